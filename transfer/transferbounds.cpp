#include "transfer/transferbounds.h"

#include "log/logmessage.h"
#include "transfer/expectedfile.h"
#include "transfer/stagingfile.h"

#include <QStorageInfo>

bool fitsSizeLimit(const ExpectedFile &expected, const QString &name, qint64 length)
{
    if (expected.sizeLimit < 0 || length <= expected.sizeLimit)
        return true;
    updaterLog().info("    ERROR: %s is larger than %lld bytes.", qUtf8Printable(name), expected.sizeLimit);
    return false;
}

bool fitsFreeSpace(const QString &folder, qint64 needed)
{
    if (needed <= 0)
        return true;
    // A volume that cannot tell its free space gets the benefit of the doubt.
    const QStorageInfo volume(folder);
    const qint64 available = volume.isValid() ? volume.bytesAvailable() : -1;
    if (available < 0 || needed <= available)
        return true;
    updaterLog().info("    ERROR: Not enough free disk space: %lld bytes needed, %lld available.", needed, available);
    return false;
}

bool stageBytes(StagingFile &staged, const QByteArray &bytes, const QString &name)
{
    if (staged.append(bytes))
        return true;
    updaterLog().info("    ERROR: Could not write %s: %s.", qUtf8Printable(name), qUtf8Printable(staged.errorString()));
    return false;
}
