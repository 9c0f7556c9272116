#include "app/updaterapp.h"

#include "platform/ownfile.h"

#include <QFile>
#include <QLockFile>
#include <QSysInfo>

bool UpdaterApp::lockUpdatesFolder()
{
    // The instance lock lives in the temporary folder, which differs from user to
    // user; two updaters on one updates folder would undo each other's work. The lock
    // lives in the cache folder, where no other account can remove it.
    const QString path = stagingFolder() + QLatin1String("/updater.lock");
    // A lock is a regular file of this account; reading anything else (a FIFO) could wait forever.
    if (ownFileSize(path) < 0)
        QFile::remove(path);
    updatesFolderLock = std::make_unique<QLockFile>(path);
    // As for the instance lock, only a lock whose owner process is gone is stale.
    updatesFolderLock->setStaleLockTime(0);
    if (updatesFolderLock->tryLock(0))
        return true;
    // A lock that another machine wrote (a restored backup, a cloned disk) names a
    // process that no updater here could ever ask about, so it would stay forever.
    qint64 pid = 0;
    QString hostName;
    QString application;
    if (!updatesFolderLock->getLockInfo(&pid, &hostName, &application) || hostName.isEmpty()
            || hostName == QSysInfo::machineHostName())
        return false;
    return updatesFolderLock->removeStaleLockFile() && updatesFolderLock->tryLock(0);
}
