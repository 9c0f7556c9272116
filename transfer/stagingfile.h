#ifndef STAGINGFILE_H
#define STAGINGFILE_H

#include <QFile>
#include <QString>

#include <memory>

class DigestWorker;

// A download being received: bytes go to a temporary file in the cache folder, and
// the very same bytes to an MD5 digest, and on request a SHA-256 digest, each taken on
// a thread of its own; they reach their destination only through commit(), by a rename
// once they are on the disk, so that no reader ever finds a half-written file there,
// not even after a power cut. An uncommitted file is removed when the object goes.
class StagingFile
{
public:
    explicit StagingFile(const QString &folder, bool withSha256 = false);
    ~StagingFile();
    StagingFile(const StagingFile &) = delete;
    StagingFile &operator=(const StagingFile &) = delete;

    bool open();
    // Stages into the kept part at path instead: its first keep bytes go into the
    // digests, read back on their threads while the rest arrives, and whatever follows
    // them is cut off. Unlike the temporary file, the part stays on disk when the object
    // goes without a commit, unless it could not be opened.
    bool adopt(const QString &path, qint64 keep);
    // False, now and from then on, once any byte could not be written; the staged
    // file, or the kept part, is gone by then.
    bool append(const QByteArray &bytes);
    // The system's reason why staging failed.
    QString errorString() const { return failure; }

    qint64 size() const { return written; }
    // Each waits for its digest's last bytes; empty when the kept part could not be read.
    QString md5() const;
    // Empty unless asked for on construction.
    QString sha256();

    // Replaces destination with the staged bytes; false when any write failed or the
    // bytes could not be renamed into place (the staged file is then gone).
    bool commit(const QString &destination);

private:
    void giveUp();

    QString folder;
    QFile file;
    QFile adopted;
    QString adoptedPath;
    QFile *target = &file;
    // After the files, so that they go first: they may still read the kept part.
    std::unique_ptr<DigestWorker> md5Hash;
    std::unique_ptr<DigestWorker> sha256Hash;
    qint64 written = 0;
    // What the disk was set to work on already.
    qint64 writtenBack = 0;
    QString failure;
    bool failed = false;
    bool placed = false;
};

// Removes the staging files that a run killed in the middle of a download left behind.
void removeStagingFiles(const QString &folder);

#endif
