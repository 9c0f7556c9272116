#include "fuzz/fuzzsupport.h"
#include "update/versioncompare.h"

// Input: the candidate version, a line feed, the current version.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    dropMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (const QString &input : textsOf(data, size)) {
        const int split = input.indexOf(QLatin1Char('\n'));
        const QString candidate = split < 0 ? input : input.left(split);
        const QString current = split < 0 ? QString() : input.mid(split + 1);

        const int result = compareVersions(candidate, current);
        expect(result == -1 || result == 0 || result == 1, "the result is -1, 0 or 1", input);
        expect(compareVersions(candidate, candidate) == 0, "a version equals itself", candidate);
        expect(compareVersions(current, current) == 0, "a version equals itself", current);
    }
    return 0;
}
