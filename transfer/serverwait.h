#ifndef SERVERWAIT_H
#define SERVERWAIT_H

#include <QDateTime>
#include <QString>

// The time until which the server of a remote path asked the updater to wait, kept
// across runs in the cache folder.

// A null time when none is kept, it has passed, or it lies further ahead of now than
// any server may ask for.
QDateTime keptServerWait(const QString &cacheFolder, const QString &remotePath, const QDateTime &now);
void keepServerWait(const QString &cacheFolder, const QString &remotePath, const QDateTime &until);

// As the log shows it: UTC, ISO 8601.
QString serverWaitText(const QDateTime &until);

#endif
