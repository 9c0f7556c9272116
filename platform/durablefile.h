#ifndef DURABLEFILE_H
#define DURABLEFILE_H

#include <QString>

class QFileDevice;

// Makes the bytes written to file reach the disk, so that a power cut cannot leave
// a file whose name is in place but whose contents are not.
bool flushToDisk(QFileDevice &file);

// Replaces to with the closed file from, by a rename on the same volume and never by
// a copy, and makes the new folder entry reach the disk. On Windows a rename that
// another process briefly prevents (a scanner holding the file) is retried for about
// two seconds.
bool renameDurably(const QString &from, const QString &to);

#endif
