#ifndef SIZECHECK_H
#define SIZECHECK_H

#include <QtGlobal>

// Logs and returns false once received exceeds the size the manifest states; -1
// states none.
bool withinExpectedSize(qint64 received, qint64 expectedSize);

// Logs and returns false when fewer bytes arrived than were announced; -1 announces
// nothing.
bool receivedAll(qint64 received, qint64 announced);

#endif
