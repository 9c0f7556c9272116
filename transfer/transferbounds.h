#ifndef TRANSFERBOUNDS_H
#define TRANSFERBOUNDS_H

#include <QString>

struct ExpectedFile;

// The bounds a transfer must keep to before and while its bytes are staged.

// Whether a file of length bytes stays within the bound that expected sets; logs the
// refusal, naming the file by name, when it does not.
bool fitsSizeLimit(const ExpectedFile &expected, const QString &name, qint64 length);

// Whether the volume of folder has room for length bytes (and for the length the
// manifest states, where it states one); logs the refusal when it has not. A length
// of -1 is not known yet and always fits.
bool fitsFreeSpace(const ExpectedFile &expected, const QString &folder, qint64 length);

#endif
