#ifndef PARTIALDOWNLOAD_H
#define PARTIALDOWNLOAD_H

#include "transfer/expectedfile.h"

#include <QJsonObject>
#include <QString>

class QNetworkReply;
class QNetworkRequest;
class QUrl;
class StagingFile;

// A package transfer that ended early leaves what it received in the cache folder,
// with a record of what the bytes are, so that the next run offered the same package
// asks only for the rest. At most one part is kept; only files with a digest are
// kept, since the digest is what shows that resumed bytes fit the kept ones.
class PartialDownload
{
public:
    // Looks at what the folder keeps; a part of another package or digest goes.
    PartialDownload(const QString &folder, const QUrl &url, const ExpectedFile &expected);
    // Removes the part once discard() was called: the staging file has let go of it by then.
    ~PartialDownload();

    PartialDownload(const PartialDownload &) = delete;
    PartialDownload &operator=(const PartialDownload &) = delete;

    // Kept bytes as many as the package has: a run ended between the last byte and the
    // placing, or the placing failed. They need no request, only a check.
    bool isWhole() const { return kept > 0 && kept == size; }
    bool stageWhole(StagingFile &staged) const;
    // Asks only for the bytes after the kept ones, if the server still has the same file.
    void prepare(QNetworkRequest &request) const;
    // The first look at the answer's head: false when a 206 resumes elsewhere than
    // asked, which removes the kept part.
    bool resumesAsAsked(const QNetworkReply &reply);
    // Once the answer's head has passed every check: a 206 continues the kept part, a
    // 200 starts a new one.
    void receive(const QNetworkReply &reply, StagingFile &staged);
    // The bytes that precede the answer's body.
    qint64 offset() const { return resumedAt; }
    // The bytes that the kept part holds on the disk.
    qint64 keptBytes() const { return kept; }
    // Nothing is to be kept: the package was placed, or its bytes failed the digest.
    void discard() { discarded = true; }

private:
    void remove() const;

    QString partPath;
    QString recordPath;
    QJsonObject identity;
    QString validator;
    qint64 size;
    qint64 kept = 0;
    qint64 resumedAt = 0;
    bool answered = false;
    bool discarded = false;
};

#endif
