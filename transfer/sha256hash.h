#ifndef SHA256HASH_H
#define SHA256HASH_H

#include <QByteArray>
#include <QMutex>
#include <QQueue>
#include <QString>
#include <QWaitCondition>

typedef struct evp_md_ctx_st EVP_MD_CTX;

// SHA-256 from OpenSSL, taken on a thread of the global pool while the caller goes on
// with its own work: a download's second digest must not slow it down. The bytes
// handed over are shared, not copied, and passed on a MiB at a time, so that the
// threads seldom meet; the caller waits only when more than a few MiB are still to be
// hashed, so that memory stays flat.
class Sha256Hash
{
public:
    Sha256Hash();
    ~Sha256Hash();
    Sha256Hash(const Sha256Hash &) = delete;
    Sha256Hash &operator=(const Sha256Hash &) = delete;

    void addData(const QByteArray &bytes);
    // Lower-case hex, once every byte is hashed; ends the hash.
    QString hexResult();

private:
    void passOnBatch();
    void hashPending();
    void waitUntilPendingAtMost(qint64 bytes);

    EVP_MD_CTX *context;
    // Only the caller's thread touches the batch.
    QQueue<QByteArray> batch;
    qint64 batchBytes = 0;
    QMutex mutex;
    QWaitCondition progressed;
    QQueue<QByteArray> pending;
    qint64 pendingBytes = 0;
    bool hashing = false;
};

#endif
