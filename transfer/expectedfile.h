#ifndef EXPECTEDFILE_H
#define EXPECTEDFILE_H

#include <QString>
#include <QtGlobal>

// What a fetched file must turn out to be before it is placed; an empty field is not
// checked.
struct ExpectedFile
{
    QString md5;
    QString sha256;
    qint64 size = -1; // the exact length the manifest states, -1 when it states none
    // The most bytes the file may have, -1 for no bound; a small file such as the
    // manifest is refused past it, before it can fill the disk or the memory.
    qint64 sizeLimit = -1;
};

#endif
