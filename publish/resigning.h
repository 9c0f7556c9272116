#ifndef RESIGNING_H
#define RESIGNING_H

#include "publish/commandline.h"

// Signs the published manifest again with the command's key, with a new time and
// expiry, so that updaters keep taking it; no other file changes. Only a manifest that
// the same key signed before is signed again: the remote folder may have been
// tampered with. Returns the tool's exit code.
int resignUpdate(const PublishCommand &command);

#endif
