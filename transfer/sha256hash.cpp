#include "transfer/sha256hash.h"

#include <QThreadPool>

#include <openssl/evp.h>

namespace {
constexpr qint64 batchSize = 1 << 20;
constexpr qint64 maxPendingBytes = 8 << 20;
}

Sha256Hash::Sha256Hash()
    : context(EVP_MD_CTX_new())
{
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
}

Sha256Hash::~Sha256Hash()
{
    waitUntilPendingAtMost(0);
    EVP_MD_CTX_free(context);
}

void Sha256Hash::addData(const QByteArray &bytes)
{
    batch.enqueue(bytes);
    batchBytes += bytes.size();
    if (batchBytes >= batchSize)
        passOnBatch();
}

void Sha256Hash::passOnBatch()
{
    waitUntilPendingAtMost(maxPendingBytes);
    QMutexLocker lock(&mutex);
    pending.append(batch);
    pendingBytes += batchBytes;
    batch.clear();
    batchBytes = 0;
    if (!hashing) {
        hashing = true;
        QThreadPool::globalInstance()->start([this] { hashPending(); });
    }
}

QString Sha256Hash::hexResult()
{
    passOnBatch();
    waitUntilPendingAtMost(0);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

void Sha256Hash::hashPending()
{
    QMutexLocker lock(&mutex);
    while (!pending.isEmpty()) {
        const QByteArray bytes = pending.dequeue();
        lock.unlock();
        EVP_DigestUpdate(context, bytes.constData(), size_t(bytes.size()));
        lock.relock();
        pendingBytes -= bytes.size();
        progressed.wakeAll();
    }
    hashing = false;
    progressed.wakeAll();
}

void Sha256Hash::waitUntilPendingAtMost(qint64 bytes)
{
    QMutexLocker lock(&mutex);
    // Waiting for nothing to be left includes the pool's thread letting go of this object.
    while (bytes == 0 ? hashing : pendingBytes > bytes)
        progressed.wait(&mutex);
}
