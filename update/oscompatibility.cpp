#include "update/oscompatibility.h"

#include "log/logmessage.h"
#include "platform/windowsversion.h"

namespace {
bool admitsEveryVersion(const QString &rule)
{
    return rule.isEmpty() || rule == QLatin1String("any");
}

// A rule other than the short-cut: a version name with an optional "+" or "-".
struct OsRule
{
    QString name;
    bool orOlder;
    bool orNewer;
};

OsRule parseOsRule(const QString &rule)
{
    OsRule parsed{rule.trimmed().toLower(), false, false};
    parsed.orOlder = parsed.name.endsWith(QLatin1Char('-'), Qt::CaseSensitive);
    parsed.orNewer = parsed.name.endsWith(QLatin1Char('+'), Qt::CaseSensitive);
    if (parsed.orOlder || parsed.orNewer)
        parsed.name.chop(1);
    return parsed;
}
}

int osVersionRank(int winVersion)
{
    switch (winVersion) {
    case 0x0010: // NT
    case 0x0020: // 2000
    case 0x0030: // XP
    case 0x0040: // Server 2003
    case 0x0080: // Vista
        return 0;
    case 0x0090: return 1; // 7
    case 0x00a0: return 2; // 8
    case 0x00b0: return 3; // 8.1
    case 0x00c0: return 4; // 10
    default: return 5;
    }
}

int runningOsVersionRank()
{
    return osVersionRank(runningWindowsVersion());
}

QStringList osVersionNames()
{
    return {QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("8.1"), QStringLiteral("10")};
}

bool isOsCompatible(const QString &rule, const std::function<int()> &runningRank)
{
    if (admitsEveryVersion(rule))
        return true;

    const auto [name, orOlder, orNewer] = parseOsRule(rule);
    if (orNewer)
        updaterLog().info("Checking if current OS is more recent or same as Windows-%s", qUtf8Printable(name));
    else if (orOlder)
        updaterLog().info("Checking if current OS is prior or same as Windows-%s", qUtf8Printable(name));
    else
        updaterLog().info("Checking if current OS is same as Windows-%s", qUtf8Printable(name));

    const int rank = runningRank();
    const int wanted = osVersionNames().indexOf(name) + 1;
    if (wanted == 0)
        return false;
    if (orNewer)
        return rank >= wanted;
    if (orOlder)
        return rank <= wanted;
    return rank == wanted;
}

bool isOsRuleKnown(const QString &rule)
{
    return admitsEveryVersion(rule) || osVersionNames().contains(parseOsRule(rule).name);
}
