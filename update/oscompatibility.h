#ifndef OSCOMPATIBILITY_H
#define OSCOMPATIBILITY_H

#include <QString>
#include <QStringList>

#include <functional>

// Orders Windows versions: 0 for NT up to Vista, 1 for 7, 2 for 8, 3 for 8.1,
// 4 for 10, 5 for anything else. Takes a QSysInfo::WinVersion value.
int osVersionRank(int winVersion);

// The rank of the Windows this process runs on.
int runningOsVersionRank();

// The version names a "compatible_os_version" rule may use, in rank order from 1.
QStringList osVersionNames();

// Whether the running Windows satisfies a rule such as "8.1+", "7-", "10" or "any".
// The rank is asked for only when the rule is neither empty nor "any".
bool isOsCompatible(const QString &rule,
                    const std::function<int()> &runningRank = runningOsVersionRank);

// Whether a rule names a version of osVersionNames() (or is empty or "any"), that is
// whether any Windows at all satisfies it.
bool isOsRuleKnown(const QString &rule);

#endif
