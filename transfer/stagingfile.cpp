#include "transfer/stagingfile.h"

#include "transfer/sha256hash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QThreadPool>

namespace {
const QLatin1String stagingPrefix("download-");
const QLatin1String stagingSuffix(".part");
}

StagingFile::StagingFile(const QString &folder, bool withSha256)
    : file(folder + QLatin1Char('/') + stagingPrefix + QLatin1String("XXXXXX") + stagingSuffix),
      hash(QCryptographicHash::Md5),
      sha256Hash(withSha256 ? std::make_unique<Sha256Hash>() : nullptr)
{
}

StagingFile::~StagingFile() = default;

bool StagingFile::open()
{
    failed = !file.open();
    return !failed;
}

bool StagingFile::append(const char *data, qint64 size)
{
    if (failed)
        return false;
    // A second digest must not slow the download down: it is taken on another
    // thread while this one writes the bytes and takes the first.
    QSemaphore sha256Taken;
    if (sha256Hash) {
        QThreadPool::globalInstance()->start([this, data, size, &sha256Taken] {
            sha256Hash->addData(data, size);
            sha256Taken.release();
        });
    }
    // The digest is taken from what was handed over, not read back from disk, so a
    // short write must fail the download here.
    failed = file.write(data, size) != size;
    for (qint64 done = 0; !failed && done < size;) {
        const int chunk = int(qMin<qint64>(size - done, 1 << 30));
        hash.addData(data + done, chunk);
        done += chunk;
    }
    if (sha256Hash)
        sha256Taken.acquire();
    if (failed)
        return false;
    written += size;
    return true;
}

QString StagingFile::md5() const
{
    return QString::fromLatin1(hash.result().toHex());
}

QString StagingFile::sha256()
{
    return sha256Hash ? sha256Hash->hexResult() : QString();
}

bool StagingFile::commit(const QString &destination)
{
    if (failed || !file.flush())
        return false;
    // Readable by whoever installs the package, like any file the updater writes.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                        | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    // Qt would report a missing destination folder as a warning of its own.
    if (!QFileInfo(destination).dir().exists())
        return false;
    if (QFile::exists(destination))
        QFile::remove(destination);
    // QTemporaryFile::close() keeps the handle open, and Windows does not rename an
    // open file; the temporary file's own rename closes the handle first.
    if (!file.rename(destination))
        return false;
    file.setAutoRemove(false);
    return true;
}

void removeStagingFiles(const QString &folder)
{
    const QStringList leftovers = QDir(folder).entryList(
            {stagingPrefix + QLatin1Char('*') + stagingSuffix}, QDir::Files | QDir::Hidden);
    for (const QString &name : leftovers)
        QFile::remove(folder + QLatin1Char('/') + name);
}
