#include "transfer/stagingfile.h"

#include "platform/durablefile.h"

#include <QDir>
#include <QRandomGenerator>

namespace {
const QLatin1String stagingPrefix("download-");
const QLatin1String stagingSuffix(".part");
}

StagingFile::StagingFile(const QString &folder) : folder(folder), hash(QCryptographicHash::Md5) {}

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

bool StagingFile::append(const char *data, qint64 size)
{
    if (failed)
        return false;
    // The digest is taken from what was handed over, not read back from disk, so a
    // short write must fail the download here.
    if (file.write(data, size) != size) {
        failed = true;
        return false;
    }
    for (qint64 done = 0; done < size;) {
        const int chunk = int(qMin<qint64>(size - done, 1 << 30));
        hash.addData(data + done, chunk);
        done += chunk;
    }
    written += size;
    return true;
}

QString StagingFile::md5() const
{
    return QString::fromLatin1(hash.result().toHex());
}

bool StagingFile::commit(const QString &destination)
{
    if (failed || !flushToDisk(file))
        return false;
    // Readable by whoever installs the package, like any file the updater writes.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                        | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    file.close();
    placed = renameDurably(file.fileName(), destination);
    return placed;
}

void removeStagingFiles(const QString &folder)
{
    const QStringList leftovers = QDir(folder).entryList(
            {stagingPrefix + QLatin1Char('*') + stagingSuffix}, QDir::Files | QDir::Hidden);
    for (const QString &name : leftovers)
        QFile::remove(folder + QLatin1Char('/') + name);
}
