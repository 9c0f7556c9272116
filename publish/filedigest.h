#ifndef FILEDIGEST_H
#define FILEDIGEST_H

#include <QByteArray>
#include <QString>

#include <functional>

// A file's size and its MD5 and SHA-256 digests in lower-case hex, the form the
// manifest states.
struct FileDigest
{
    qint64 size = 0;
    QString md5;
    QString sha256;

    bool operator==(const FileDigest &other) const
    {
        return size == other.size && md5 == other.md5 && sha256 == other.sha256;
    }
    bool operator!=(const FileDigest &other) const { return !(*this == other); }
};

// Reads the whole file, handing each chunk to consume as well when one is given;
// false, with the reason in error, when it is no readable file or consume refused a chunk.
bool digestFile(const QString &path, FileDigest &digest, QString &error,
                const std::function<bool(const QByteArray &chunk)> &consume = {});

#endif
