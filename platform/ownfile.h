#ifndef OWNFILE_H
#define OWNFILE_H

#include <QIODevice>

class QFile;

// Opens the file that file names, creating it when mode writes, but only as a regular file
// of this account with no other name: a link is not followed, a FIFO or device is never
// waited on, and a hard link to another file is refused. Truncate empties the file only
// once it has passed. False when it is not opened. The open file no longer tells its name.
bool openOwnFile(QFile &file, QIODevice::OpenMode mode);

// The size of the regular file of this account at path, not following a link; -1 when
// there is no such file.
qint64 ownFileSize(const QString &path);

#endif
