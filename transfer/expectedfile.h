#ifndef EXPECTEDFILE_H
#define EXPECTEDFILE_H

#include <QString>

// What a fetched file must turn out to be before it is placed; an empty field is not
// checked.
struct ExpectedFile
{
    QString md5;
};

#endif
