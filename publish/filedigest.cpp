#include "publish/filedigest.h"

#include "transfer/digestworker.h"

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
    DigestWorker md5(DigestWorker::Md5);
    DigestWorker sha256(DigestWorker::Sha256);
    qint64 size = 0;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(1 << 18);
        if (chunk.isEmpty()) {
            error = file.errorString();
            return false;
        }
        if (consume && !consume(chunk))
            return false;
        md5.addData(chunk);
        sha256.addData(chunk);
        size += chunk.size();
    }
    digest.size = size;
    digest.md5 = md5.hexResult();
    digest.sha256 = sha256.hexResult();
    return true;
}
