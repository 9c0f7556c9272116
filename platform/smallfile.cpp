#include "platform/smallfile.h"

#include "platform/durablefile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

QByteArray readSmallFile(const QString &path, qint64 maxBytes)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile() || info.size() > maxBytes)
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray bytes = file.read(maxBytes + 1);
    return bytes.size() > maxBytes ? QByteArray() : bytes;
}

bool writeSmallFile(const QString &path, const QByteArray &bytes)
{
    // A new file of its own: its permissions are the owner's alone. A temporary file keeps
    // its handle open past close() until it goes, and Windows renames no open file.
    QString staged;
    {
        QTemporaryFile file(path + QLatin1String(".XXXXXX"));
        if (!file.open() || file.write(bytes) != bytes.size() || !flushToDisk(file))
            return false;
        staged = file.fileName();
        file.setAutoRemove(false);
    }
    if (renameDurably(staged, path))
        return true;
    QFile::remove(staged);
    return false;
}
