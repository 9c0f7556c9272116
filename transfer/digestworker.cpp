#include "transfer/digestworker.h"

#include <QFile>
#include <QThread>

#include <functional>
#include <utility>

#include <openssl/evp.h>

namespace {

// QThread::create() needs std::future, which a MinGW without POSIX threads lacks.
class FunctionThread : public QThread
{
public:
    explicit FunctionThread(std::function<void()> function) : function(std::move(function)) {}

protected:
    void run() override { function(); }

private:
    std::function<void()> function;
};

// A few large writes: enough for the hash to run on while the caller hands over the
// next one.
constexpr qint64 maxPendingBytes = 512 << 10;
constexpr qint64 fileChunkSize = 1 << 20;

}

DigestWorker::DigestWorker(Algorithm algorithm)
    : context(EVP_MD_CTX_new()),
      thread(std::make_unique<FunctionThread>([this] { run(); }))
{
    EVP_DigestInit_ex(context, algorithm == Md5 ? EVP_md5() : EVP_sha256(), nullptr);
    thread->start();
}

DigestWorker::~DigestWorker()
{
    {
        QMutexLocker lock(&mutex);
        stopping = true;
        changed.wakeAll();
    }
    thread->wait();
    EVP_MD_CTX_free(context);
}

void DigestWorker::addFile(const QString &path, qint64 length)
{
    if (length <= 0)
        return;
    QMutexLocker lock(&mutex);
    filePath = path;
    fileLength = length;
    changed.wakeAll();
}

void DigestWorker::addData(const QByteArray &bytes)
{
    QMutexLocker lock(&mutex);
    // An ended digest takes nothing more; waiting for it to make room would never end.
    if (ending)
        return;
    while (pendingBytes > maxPendingBytes)
        changed.wait(&mutex);
    pending.enqueue(bytes);
    pendingBytes += bytes.size();
    changed.wakeAll();
}

QString DigestWorker::hexResult()
{
    if (!ended) {
        ended = true;
        {
            QMutexLocker lock(&mutex);
            ending = true;
            changed.wakeAll();
        }
        thread->wait();
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(context, digest, &length);
        if (!unreadable)
            result = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
    }
    return result;
}

void DigestWorker::run()
{
    QMutexLocker lock(&mutex);
    for (;;) {
        while (filePath.isEmpty() && pending.isEmpty() && !ending && !stopping)
            changed.wait(&mutex);
        if (stopping)
            return;
        if (!filePath.isEmpty()) {
            // The kept bytes come before anything handed over; the caller goes on
            // meanwhile, until as much waits as the bound allows.
            const QString path = std::exchange(filePath, QString());
            lock.unlock();
            hashFile(path, fileLength);
            lock.relock();
            continue;
        }
        if (pending.isEmpty())
            return;
        // Counted as pending until hashed, so that the bound covers it too.
        const QByteArray bytes = pending.head();
        lock.unlock();
        EVP_DigestUpdate(context, bytes.constData(), size_t(bytes.size()));
        lock.relock();
        pending.dequeue();
        pendingBytes -= bytes.size();
        changed.wakeAll();
    }
}

void DigestWorker::hashFile(const QString &path, qint64 length)
{
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly)) {
        QMutexLocker lock(&mutex);
        unreadable = true;
        return;
    }
    QByteArray chunk(int(fileChunkSize), Qt::Uninitialized);
    for (qint64 done = 0; done < length;) {
        const qint64 read = source.read(chunk.data(), qMin(fileChunkSize, length - done));
        QMutexLocker lock(&mutex);
        if (read <= 0)
            unreadable = true;
        if (read <= 0 || stopping)
            return;
        lock.unlock();
        EVP_DigestUpdate(context, chunk.constData(), size_t(read));
        done += read;
    }
}
