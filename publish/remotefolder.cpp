#include "publish/remotefolder.h"

#include "update/manifestkeys.h"

#include <QDir>
#include <QSaveFile>

QString updateFolderPath(const QString &remoteDir)
{
    return QDir::cleanPath(remoteDir + remoteFolder);
}

QString publishedFilePath(const QString &remoteDir, const QString &name)
{
    return updateFolderPath(remoteDir) + QLatin1Char('/') + name;
}

QString publishedManifestPath(const QString &remoteDir)
{
    return publishedFilePath(remoteDir, manifestFileName);
}

bool writeWhole(const QString &path, const QByteArray &text, QString &error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}
