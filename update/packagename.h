#ifndef PACKAGENAME_H
#define PACKAGENAME_H

#include <QString>

// Whether a package name from a manifest may be stored in the available folder: a file
// name without a folder part that Windows can create: no "/", backslash, colon,
// < > " | ? * or control character, no reserved device name such as CON, com1.txt or
// CONIN$, not "." or "..", and no trailing dot or space. The rule is the same on every
// system.
bool isPackageNameAllowed(const QString &name);

#endif
