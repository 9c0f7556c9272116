#include "publish/remotefolder.h"

#include "update/manifestkeys.h"

#include <QDir>

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
