#ifndef PROGRESS_H
#define PROGRESS_H

#include <QtGlobal>

// Logs how far a download has come, as the network reports it; a total of -1 means
// the server did not announce the size.
void logProgress(qint64 received, qint64 total);

#endif
