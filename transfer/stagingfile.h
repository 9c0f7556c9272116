#ifndef STAGINGFILE_H
#define STAGINGFILE_H

#include <QCryptographicHash>
#include <QFile>
#include <QString>

// A download being received: bytes go to a temporary file in the cache folder and
// into an MD5 digest as they arrive, and reach their destination only through
// commit(), by a rename once they are on the disk, so that no reader ever finds a
// half-written file there, not even after a power cut. An uncommitted file is removed
// when the object goes.
class StagingFile
{
public:
    explicit StagingFile(const QString &folder);
    ~StagingFile();
    StagingFile(const StagingFile &) = delete;
    StagingFile &operator=(const StagingFile &) = delete;

    bool open();
    // False, now and from then on, once any byte could not be written.
    bool append(const char *data, qint64 size);
    bool append(const QByteArray &bytes) { return append(bytes.constData(), bytes.size()); }

    qint64 size() const { return written; }
    QString md5() const;

    // Replaces destination with the staged bytes; false when any write failed or the
    // bytes could not be renamed into place (the staged file is then gone).
    bool commit(const QString &destination);

private:
    QString folder;
    QFile file;
    QCryptographicHash hash;
    qint64 written = 0;
    bool failed = false;
    bool placed = false;
};

// Removes the staging files that a run killed in the middle of a download left behind.
void removeStagingFiles(const QString &folder);

#endif
