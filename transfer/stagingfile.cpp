#include "transfer/stagingfile.h"

#include "platform/durablefile.h"
#include "platform/ownfile.h"
#include "transfer/digestworker.h"

#include <QDir>
#include <QRandomGenerator>

namespace {
const QLatin1String stagingPrefix("download-");
const QLatin1String stagingSuffix(".part");
// The disk is set to work on the staged bytes in steps of this many, each of which
// costs a call.
constexpr qint64 writeBackSize = 8 << 20;
}

StagingFile::StagingFile(const QString &folder, bool withSha256)
    : folder(folder),
      md5Hash(std::make_unique<DigestWorker>(DigestWorker::Md5)),
      sha256Hash(withSha256 ? std::make_unique<DigestWorker>(DigestWorker::Sha256) : nullptr)
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
    adoptedPath = path;
    target = &adopted;
    failed = !openOwnFile(adopted, QIODevice::ReadWrite | QIODevice::Unbuffered) || !adopted.resize(keep) || !adopted.seek(keep);
    // The kept bytes are read back, so that the digests cover the whole package; they
    // are read on the digests' threads while the rest arrives.
    if (!failed) {
        md5Hash->addFile(path, keep);
        if (sha256Hash)
            sha256Hash->addFile(path, keep);
    }
    written = keep;
    writtenBack = keep;
    if (failed)
        giveUp();
    return !failed;
}

bool StagingFile::append(const QByteArray &bytes)
{
    if (failed)
        return false;
    // The digests are taken on their threads while this one writes, and from what was
    // handed over, not read back from disk, so a short write must fail the download here.
    md5Hash->addData(bytes);
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
    written += bytes.size();
    if (written - writtenBack >= writeBackSize) {
        startWriteBack(*target, writtenBack, written - writtenBack);
        writtenBack = written;
    }
    return true;
}

void StagingFile::giveUp()
{
    failed = true;
    failure = target->errorString();
    // Bytes that did not all reach the disk are of no use, and the room they take may
    // be what the log needs to say why. A kept part is open through its handle, which
    // does not remember the name.
    target->close();
    QFile::remove(target == &adopted ? adoptedPath : file.fileName());
}

QString StagingFile::md5() const
{
    return md5Hash->hexResult();
}

QString StagingFile::sha256()
{
    return sha256Hash ? sha256Hash->hexResult() : QString();
}

bool StagingFile::commit(const QString &destination)
{
    if (failed || !flushToDisk(*target))
        return false;
    // The kept part is open through its handle, which does not remember the name.
    const QString staged = target == &adopted ? adoptedPath : file.fileName();
    // Readable by whoever installs the package, like any file the updater writes.
    QFile::setPermissions(staged, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    // The digests' threads let go of a kept part once they are done with it; Windows
    // renames no open file.
    md5();
    sha256();
    target->close();
    placed = renameDurably(staged, destination);
    return placed;
}

void removeStagingFiles(const QString &folder)
{
    const QStringList leftovers = QDir(folder).entryList(
            {stagingPrefix + QLatin1Char('*') + stagingSuffix}, QDir::Files | QDir::Hidden);
    for (const QString &name : leftovers)
        QFile::remove(folder + QLatin1Char('/') + name);
}
