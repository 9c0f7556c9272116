#ifndef SIGNATUREFRESHNESS_H
#define SIGNATUREFRESHNESS_H

#include <QByteArray>
#include <QString>

// Takes the trusted comment of a verified signature of updates.json, or logs why not:
// it must state its time, file and expiry, be made for updates.json, not have expired,
// and not be older than the newest signature taken before for this local folder, so
// that neither an old signed folder nor a frozen one is taken. The time of the newest
// one taken is kept in cacheFolder, on the disk, across runs.
bool takeSignedStatement(const QByteArray &trustedComment, const QString &cacheFolder);

#endif
