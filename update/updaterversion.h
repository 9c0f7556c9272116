#ifndef UPDATERVERSION_H
#define UPDATERVERSION_H

#include <QLatin1String>

// The updater's own version: an offered update is taken only when it counts as more
// recent than this. The publishing tool checks remote folders against it as well.
inline const QLatin1String updaterVersion("2.0.1610051745");

#endif
