#ifndef DIGESTWORKER_H
#define DIGESTWORKER_H

#include <QByteArray>
#include <QMutex>
#include <QQueue>
#include <QString>
#include <QWaitCondition>

#include <memory>

class QThread;
typedef struct evp_md_ctx_st EVP_MD_CTX;

// A digest from OpenSSL taken on a thread of its own while the caller goes on with
// its work: a download's bytes must reach the disk at the speed of the line, not of
// the hash. The bytes handed over are shared with the caller, not copied, and the
// caller waits only while a few large writes are still to be hashed, so that memory
// stays flat.
class DigestWorker
{
public:
    enum Algorithm { Md5, Sha256 };

    explicit DigestWorker(Algorithm algorithm);
    // Drops whatever still waits to be hashed.
    ~DigestWorker();
    DigestWorker(const DigestWorker &) = delete;
    DigestWorker &operator=(const DigestWorker &) = delete;

    // Hashes the first length bytes of the file at path before anything added, reading
    // them on the worker's thread; call it before any addData(). The file is open only
    // while those bytes are read.
    void addFile(const QString &path, qint64 length);
    void addData(const QByteArray &bytes);
    // Lower-case hex once every byte is hashed; empty when the file could not be read.
    // Ends the digest: later calls return the same text.
    QString hexResult();

private:
    void run();
    void hashFile(const QString &path, qint64 length);

    EVP_MD_CTX *context;
    std::unique_ptr<QThread> thread;
    // Everything below is shared with the worker's thread, under the mutex.
    QString filePath;
    qint64 fileLength = 0;
    QMutex mutex;
    QWaitCondition changed;
    QQueue<QByteArray> pending;
    qint64 pendingBytes = 0;
    bool ending = false;
    bool stopping = false;
    bool unreadable = false;
    // Only the caller's thread touches these.
    bool ended = false;
    QString result;
};

#endif
