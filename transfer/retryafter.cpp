#include "transfer/retryafter.h"

#include <QLocale>

#include <algorithm>
#include <cctype>

QDateTime retryAfter(int status, const QByteArray &header, const QDateTime &now)
{
    if (status != 503 && status != 429)
        return QDateTime();
    const QByteArray text = header.trimmed();
    QDateTime until;
    if (!text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](char c) { return isdigit(static_cast<unsigned char>(c)); })) {
        // Beyond the longest wait every number means the same; so does one too long to read.
        bool fits = false;
        const qint64 seconds = text.toLongLong(&fits);
        until = now.addSecs(fits ? std::min(seconds, longestServerWaitSeconds) : longestServerWaitSeconds);
    } else {
        until = QLocale::c().toDateTime(QString::fromLatin1(text), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"));
        until.setTimeSpec(Qt::UTC);
    }
    if (!until.isValid() || until <= now)
        return QDateTime();
    // Whole seconds: the time is logged and kept as such.
    return QDateTime::fromSecsSinceEpoch(std::min(until, now.addSecs(longestServerWaitSeconds)).toSecsSinceEpoch(), Qt::UTC);
}
