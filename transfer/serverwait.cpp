#include "transfer/serverwait.h"

#include "platform/smallfile.h"
#include "transfer/retryafter.h"

#include <QCryptographicHash>
#include <QFile>

namespace {
// One record a remote path, named by its digest: a path may hold any character.
QString recordPath(const QString &cacheFolder, const QString &remotePath)
{
    const QByteArray digest = QCryptographicHash::hash(remotePath.toUtf8(), QCryptographicHash::Sha256).toHex();
    return cacheFolder + QLatin1String("/server-wait-") + QString::fromLatin1(digest.left(32));
}
}

QDateTime keptServerWait(const QString &cacheFolder, const QString &remotePath, const QDateTime &now)
{
    const QString path = recordPath(cacheFolder, remotePath);
    const QDateTime until = QDateTime::fromString(QString::fromLatin1(readSmallFile(path, 64)), Qt::ISODate);
    if (until.isValid() && until > now && until <= now.addSecs(longestServerWaitSeconds))
        return until;
    QFile::remove(path);
    return QDateTime();
}

void keepServerWait(const QString &cacheFolder, const QString &remotePath, const QDateTime &until)
{
    writeSmallFile(recordPath(cacheFolder, remotePath), serverWaitText(until).toLatin1());
}

QString serverWaitText(const QDateTime &until)
{
    return until.toUTC().toString(Qt::ISODate);
}
