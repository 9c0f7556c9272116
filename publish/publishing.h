#ifndef PUBLISHING_H
#define PUBLISHING_H

#include "publish/commandline.h"

// Publishes the command's package and version into its remote folder, or refuses with
// a message and leaves the folder as it was. Returns the tool's exit code.
int publishUpdate(const PublishCommand &command);

#endif
