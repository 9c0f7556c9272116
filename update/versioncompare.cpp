#include "update/versioncompare.h"

#include "log/logmessage.h"

#include <QStringList>

#include <algorithm>

namespace {
const QLatin1String wildcard("x");

QStringList versionComponents(const QString &version)
{
    return version.split(QLatin1Char('.'), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

// 64-bit components: time-stamp versions such as 2.0.2201010000 exceed 32 bits.
qlonglong componentValue(const QString &component, bool *isNumber)
{
    return component.toLongLong(isNumber, 10);
}
}

int compareVersions(const QString &candidate, const QString &current)
{
    updaterLog().info("Checking if version %s is more recent than %s",
                      qUtf8Printable(candidate), qUtf8Printable(current));
    if (candidate == current)
        return 0;

    const QStringList mine = versionComponents(candidate);
    const QStringList theirs = versionComponents(current);
    for (int i = 0; i < mine.size() && i < theirs.size(); ++i) {
        bool mineIsNumber = false;
        bool theirsIsNumber = false;
        const qlonglong m = componentValue(mine.at(i), &mineIsNumber);
        const qlonglong n = componentValue(theirs.at(i), &theirsIsNumber);
        if (!mineIsNumber) {
            if (mine.at(i) == wildcard)
                return 1;
        } else if (!theirsIsNumber) {
            if (theirs.at(i) == wildcard)
                return -1;
        }
        if (m < n)
            return -1;
        if (m > n)
            return 1;
    }
    if (mine.size() < theirs.size())
        return 1;
    if (mine.size() > theirs.size())
        return -1;
    return 0;
}

bool isVersionWellFormed(const QString &version)
{
    const QStringList components = versionComponents(version);
    for (const QString &component : components) {
        if (component == wildcard)
            continue;
        // The conversion alone would also take signs and surrounding spaces.
        const bool digitsOnly = !component.isEmpty()
                && std::all_of(component.cbegin(), component.cend(), [](QChar c) {
                       return c >= QLatin1Char('0') && c <= QLatin1Char('9');
                   });
        bool isNumber = false;
        componentValue(component, &isNumber);
        if (!digitsOnly || !isNumber)
            return false;
    }
    return true;
}
