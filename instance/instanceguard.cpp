#include "app/updaterapp.h"

#include <QDir>
#include <QLocalServer>
#include <QLockFile>
#include <QStandardPaths>

void UpdaterApp::acquireInstanceGuard()
{
    const QString name = QString::fromLatin1(serverName);
    const QStringList temporaryFolders =
            QStandardPaths::standardLocations(QStandardPaths::TempLocation);
    const QDir temporaryFolder(temporaryFolders.value(0, QDir::tempPath()));

    instanceLock = new QLockFile(temporaryFolder.absoluteFilePath(name + QLatin1String("-lock")));
    // Only a lock whose owner process is gone is stale; a long download must never
    // lose its lock to a second updater just because it has been running a while.
    instanceLock->setStaleLockTime(0);
    ownsInstanceLock = instanceLock->tryLock(0);
    if (!ownsInstanceLock)
        return;

    QLocalServer::removeServer(name);
    localServer = new QLocalServer(this);
    localServer->listen(name);
    connect(localServer, SIGNAL(newConnection()), this, SLOT(onNewConnection()));
}

void UpdaterApp::releaseInstanceGuard()
{
    if (!ownsInstanceLock)
        return;
    localServer->close();
    instanceLock->unlock();
}
