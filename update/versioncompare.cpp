#include "update/versioncompare.h"

#include "log/logmessage.h"

#include <QStringList>

namespace {
const QLatin1String wildcard("x");
}

int compareVersions(const QString &candidate, const QString &current)
{
    updaterLog().info("Checking if version %s is more recent than %s",
                      qPrintable(candidate), qPrintable(current));
    if (candidate == current)
        return 0;

    const QStringList mine = candidate.split(QLatin1Char('.'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    const QStringList theirs = current.split(QLatin1Char('.'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (int i = 0; i < mine.size() && i < theirs.size(); ++i) {
        // 64-bit components: time-stamp versions such as 2.0.2201010000 exceed 32 bits.
        bool mineIsNumber = false;
        bool theirsIsNumber = false;
        const qlonglong m = mine.at(i).toLongLong(&mineIsNumber, 10);
        const qlonglong n = theirs.at(i).toLongLong(&theirsIsNumber, 10);
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
