#include "update/signaturefreshness.h"

#include "log/logmessage.h"
#include "platform/smallfile.h"
#include "update/signedstatement.h"

#include <QDateTime>

namespace {
const QLatin1String recordName("signature-time");
// A signature taken further ahead of the clock than this was made, or read, with a
// clock far off; kept, it would refuse every later signature until that time.
constexpr qint64 clockTolerance = 24 * 60 * 60;

// The signing time of the newest signature taken, or -1 when there is no readable record.
qint64 readNewestTaken(const QString &path)
{
    qint64 seconds = -1;
    return readUnixSeconds(readSmallFile(path, 32).trimmed(), seconds) ? seconds : -1;
}
}

bool takeSignedStatement(const QByteArray &trustedComment, const QString &cacheFolder)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    SignedStatement statement;
    switch (checkSignedStatement(trustedComment, now, statement)) {
    case StatementCheck::Unstated:
        updaterLog().info("    FAILURE: signature of updates.json does not state its time, file and expiry.");
        return false;
    case StatementCheck::OtherFile:
        updaterLog().info("    FAILURE: signature of updates.json was made for %s.", qUtf8Printable(statement.file));
        return false;
    case StatementCheck::Expired:
        updaterLog().info("    FAILURE: signature of updates.json expired at %s.",
                          qUtf8Printable(utcText(statement.expires)));
        return false;
    case StatementCheck::Current:
        break;
    }
    const QString recordPath = cacheFolder + QLatin1Char('/') + recordName;
    qint64 newestTaken = readNewestTaken(recordPath);
    if (newestTaken > now + clockTolerance) {
        updaterLog().info("    The signature taken at %s is more than a day ahead of the clock: this one replaces it.",
                          qUtf8Printable(utcText(newestTaken)));
        newestTaken = -1;
    }
    if (statement.timestamp < newestTaken) {
        updaterLog().info("    FAILURE: updates.json was signed at %s, before the one taken at %s.",
                          qUtf8Printable(utcText(statement.timestamp)), qUtf8Printable(utcText(newestTaken)));
        return false;
    }
    // The same signature read again changes nothing.
    if (statement.timestamp != newestTaken && !writeSmallFile(recordPath, QByteArray::number(statement.timestamp) + '\n'))
        updaterLog().info("    ERROR: Could not record the signing time in %s.", qUtf8Printable(recordPath));
    return true;
}
