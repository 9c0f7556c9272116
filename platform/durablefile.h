#ifndef DURABLEFILE_H
#define DURABLEFILE_H

#include <QString>
#include <QtGlobal>

class QFileDevice;

// Makes the bytes written to file reach the disk, so that a power cut cannot leave
// a file whose name is in place but whose contents are not.
bool flushToDisk(QFileDevice &file);

// Has the disk start on length bytes written to file at offset without waiting for
// them, so that flushToDisk() later waits only for the last ones. Where the system
// writes behind on its own (Windows), nothing.
void startWriteBack(QFileDevice &file, qint64 offset, qint64 length);

// Replaces to with the closed file from, by a rename on the same volume and never by
// a copy, and makes the new folder entry reach the disk. On Windows a rename that
// another process briefly prevents (a scanner holding the file) is retried for about
// two seconds.
bool renameDurably(const QString &from, const QString &to);

#endif
