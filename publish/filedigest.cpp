#include "publish/filedigest.h"

#include "transfer/sha256hash.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

bool digestFile(const QString &path, FileDigest &digest, QString &error,
                const std::function<bool(const QByteArray &chunk)> &consume)
{
    if (QFileInfo(path).isDir()) {
        error = QStringLiteral("it is a folder");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    Sha256Hash sha256;
    qint64 size = 0;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(1 << 16);
        if (chunk.isEmpty()) {
            error = file.errorString();
            return false;
        }
        if (consume && !consume(chunk))
            return false;
        hash.addData(chunk);
        sha256.addData(chunk);
        size += chunk.size();
    }
    digest.size = size;
    digest.md5 = QString::fromLatin1(hash.result().toHex());
    digest.sha256 = sha256.hexResult();
    return true;
}
