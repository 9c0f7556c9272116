#include "fuzz/fuzzsupport.h"
#include "update/packagename.h"

#include <QDir>

// Input: a package name, as a manifest's "package" value would give it.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    dropMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (const QString &name : textsOf(data, size)) {
        if (!isPackageNameAllowed(name))
            continue;
        // The folders as the updater forms them: localPath + "/available/" + name.
        for (const QLatin1String localPath : {QLatin1String("/home/user/updates"),
                                              QLatin1String("C:/Users/user/AppData/updates")}) {
            const QString available = localPath + QLatin1String("/available/");
            const QString destination = QDir::cleanPath(available + name);
            expect(destination.startsWith(available) && destination.size() > available.size(),
                   "an allowed name stays inside the available folder", name);
        }
    }
    return 0;
}
