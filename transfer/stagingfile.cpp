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
    // another download's file.
    for (int attempt = 0; attempt < 8 && !file.isOpen(); ++attempt) {
        file.setFileName(folder + QLatin1Char('/') + stagingPrefix
                         + QString::number(QRandomGenerator::global()->generate64(), 36) + stagingSuffix);
        file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
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
    failed = !openOwnFile(adopted, QIODevice::ReadWrite) || !adopted.resize(keep) || !adopted.seek(keep);
    // The kept bytes are read back, so that the digests cover the whole package; they
    // are read on the digests' threads while the rest arrives.
    if (!failed) {
        md5Hash->addFile(path, keep);
        if (sha256Hash)
            sha256Hash->addFile(path, keep);
    }
    written = keep;
    writtenBack = keep;
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
    if (target->write(bytes) != bytes.size()) {
        failed = true;
        return false;
    }
    written += bytes.size();
    if (written - writtenBack >= writeBackSize) {
        startWriteBack(*target, writtenBack, written - writtenBack);
        writtenBack = written;
    }
    return true;
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
