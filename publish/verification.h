#ifndef VERIFICATION_H
#define VERIFICATION_H

#include <QString>

// Reports what an updater of the shipped version would do with the update published in
// remoteDir, on each Windows version it knows: one that trusts publicKey, when one is
// given, else one built without keys. Returns the tool's exit code.
int verifyPublishedUpdate(const QString &remoteDir, const QString &publicKey);

#endif
