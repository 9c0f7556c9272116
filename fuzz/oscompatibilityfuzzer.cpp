#include "fuzz/fuzzsupport.h"
#include "update/oscompatibility.h"

#include <cstring>

// Input: four bytes of a QSysInfo::WinVersion value, then the rule.
namespace {

void checkRule(const QString &rule)
{
    constexpr int ranks = 6;
    bool admits[ranks];
    for (int rank = 0; rank < ranks; ++rank) {
        int asked = 0;
        admits[rank] = isOsCompatible(rule, [&asked, rank] { ++asked; return rank; });
        const bool everyVersion = rule.isEmpty() || rule == QLatin1String("any");
        expect(asked == (everyVersion ? 0 : 1),
               "the running version is asked for once, unless the rule admits every version", rule);
        if (everyVersion)
            expect(admits[rank], "an empty rule or \"any\" admits every version", rule);
    }
    if (rule.isEmpty() || rule == QLatin1String("any"))
        return;

    const QString name = rule.trimmed().toLower();
    const bool orNewer = name.endsWith(QLatin1Char('+'));
    const bool orOlder = name.endsWith(QLatin1Char('-'));
    int admitted = 0;
    for (int rank = 0; rank < ranks; ++rank) {
        admitted += admits[rank];
        if (rank > 0 && orNewer)
            expect(!admits[rank - 1] || admits[rank], "a \"+\" rule admits every newer version", rule);
        if (rank > 0 && orOlder)
            expect(!admits[rank] || admits[rank - 1], "a \"-\" rule admits every older version", rule);
    }
    if (!orNewer && !orOlder)
        expect(admitted <= 1, "a rule without suffix admits at most one version", rule);
    // Rank 5 is a Windows newer than any the rules can name, rank 0 one older.
    expect(orNewer || !admits[5], "only a \"+\" rule admits an unknown Windows", rule);
    expect(orOlder || !admits[0], "only a \"-\" rule admits Windows before 7", rule);
}

}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    dropMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size >= sizeof(int)) {
        int winVersion;
        std::memcpy(&winVersion, data, sizeof winVersion);
        const int rank = osVersionRank(winVersion);
        expect(rank >= 0 && rank <= 5, "a Windows version ranks from 0 to 5");
        data += sizeof winVersion;
        size -= sizeof winVersion;
    }
    for (const QString &rule : textsOf(data, size))
        checkRule(rule);
    return 0;
}
