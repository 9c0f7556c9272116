#ifndef TRUSTEDKEYS_H
#define TRUSTEDKEYS_H

#include <QStringList>

// The minisign public keys this executable was built to trust (UPDATER_TRUSTED_KEYS):
// a release team can only change them with a new updater.
QStringList trustedKeys();

#endif
