#ifndef TRANSFERBOUNDS_H
#define TRANSFERBOUNDS_H

#include <QByteArray>
#include <QString>

struct ExpectedFile;
class StagingFile;

// The bounds a transfer must keep to before and while its bytes are staged.

// Whether a file of length bytes stays within the bound that expected sets; logs the
// refusal, naming the file by name, when it does not.
bool fitsSizeLimit(const ExpectedFile &expected, const QString &name, qint64 length);

// Whether the volume of folder has room for needed more bytes; logs the refusal when
// it has not. Nothing needed, or a need not known yet (-1), always fits.
bool fitsFreeSpace(const QString &folder, qint64 needed);

// Stages bytes of the file called name; logs the system's reason when the disk does
// not take them all.
bool stageBytes(StagingFile &staged, const QByteArray &bytes, const QString &name);

#endif
