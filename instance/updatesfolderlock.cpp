#include "app/updaterapp.h"

#include <QLockFile>

bool UpdaterApp::lockUpdatesFolder()
{
    // The instance lock lives in the temporary folder, which differs from user to
    // user; two updaters on one updates folder would undo each other's work.
    updatesFolderLock = std::make_unique<QLockFile>(stagingFolder() + QLatin1String("/updater.lock"));
    // As for the instance lock, only a lock whose owner process is gone is stale.
    updatesFolderLock->setStaleLockTime(0);
    return updatesFolderLock->tryLock(0);
}
