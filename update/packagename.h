#ifndef PACKAGENAME_H
#define PACKAGENAME_H

#include <QString>

// Whether a package name from a manifest may be stored below the available folder:
// a relative path of "/"-separated segments that names a file, with no ".." segment,
// and a name that Windows can create: no backslash, colon, < > " | ? * or control
// character, no reserved device name such as CON or com1.txt, and no segment that
// ends with a dot or a space. The rule is the same on every system.
bool isPackageNameAllowed(const QString &name);

#endif
