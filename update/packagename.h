#ifndef PACKAGENAME_H
#define PACKAGENAME_H

#include <QString>

// Whether a package name from a manifest may be stored below the available folder:
// a relative path of "/"-separated segments that names a file, with no ".." segment,
// no backslash, no drive letter or other colon, and no control character.
bool isPackageNameAllowed(const QString &name);

#endif
