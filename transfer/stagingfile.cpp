#include "transfer/stagingfile.h"

#include "platform/durablefile.h"
#include "transfer/sha256hash.h"

#include <QDir>
#include <QRandomGenerator>

namespace {
const QLatin1String stagingPrefix("download-");
const QLatin1String stagingSuffix(".part");
}

StagingFile::StagingFile(const QString &folder, bool withSha256)
    : folder(folder),
      hash(QCryptographicHash::Md5),
      sha256Hash(withSha256 ? std::make_unique<Sha256Hash>() : nullptr)
{
}

StagingFile::~StagingFile()
{
    if (!placed && !file.fileName().isEmpty())
        file.remove();
}

bool StagingFile::open()
{
    // A plain file rather than a temporary one: its handle must really close before
    // the rename, which Windows refuses for an open file. NewOnly never takes over
    // another download's file. Unbuffered, so that a full disk shows at the write that
    // meets it, before any digest is taken.
    for (int attempt = 0; attempt < 8 && !file.isOpen(); ++attempt) {
        file.setFileName(folder + QLatin1Char('/') + stagingPrefix
                         + QString::number(QRandomGenerator::global()->generate64(), 36) + stagingSuffix);
        file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered);
    }
    failed = !file.isOpen();
    if (failed)
        file.setFileName(QString());
    return !failed;
}

bool StagingFile::adopt(const QString &path, qint64 keep)
{
    file.remove();
    file.setFileName(QString());
    adopted.setFileName(path);
    target = &adopted;
    failed = !adopted.open(QIODevice::ReadWrite | QIODevice::Unbuffered) || !adopted.resize(keep);
    // The kept bytes are read back, so that the digests cover the whole package.
    while (!failed && adopted.pos() < keep) {
        const QByteArray chunk = adopted.read(1 << 20);
        failed = chunk.isEmpty();
        hash.addData(chunk);
        if (sha256Hash)
            sha256Hash->addData(chunk);
    }
    written = keep;
    if (failed)
        giveUp();
    return !failed;
}

bool StagingFile::append(const QByteArray &bytes)
{
    if (failed)
        return false;
    // The second digest is taken on another thread while this one writes and takes
    // the first.
    if (sha256Hash)
        sha256Hash->addData(bytes);
    // The digests are taken from what was handed over, not read back from disk, so a
    // short write must fail the download here. Only the write after a short one
    // tells the system's reason.
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 count = target->write(bytes.constData() + done, bytes.size() - done);
        if (count <= 0) {
            giveUp();
            return false;
        }
        done += count;
    }
    hash.addData(bytes);
    written += bytes.size();
    return true;
}

void StagingFile::giveUp()
{
    failed = true;
    failure = target->errorString();
    // Bytes that did not all reach the disk are of no use, and the room they take may
    // be what the log needs to say why.
    target->remove();
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
    if (failed || !flushToDisk(*target))
        return false;
    // Readable by whoever installs the package, like any file the updater writes.
    target->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                           | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    target->close();
    placed = renameDurably(target->fileName(), destination);
    return placed;
}

void removeStagingFiles(const QString &folder)
{
    const QStringList leftovers = QDir(folder).entryList(
            {stagingPrefix + QLatin1Char('*') + stagingSuffix}, QDir::Files | QDir::Hidden);
    for (const QString &name : leftovers)
        QFile::remove(folder + QLatin1Char('/') + name);
}
