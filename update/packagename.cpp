#include "update/packagename.h"

#include <QRegularExpression>

namespace {
// Characters that no file name on Windows may hold, besides the control characters;
// "/" too, since the available folder holds files only.
const QLatin1String forbiddenCharacters("/\\:<>\"|?*");

// Windows opens a device, not a file, for these names, whatever the extension and case;
// its COM and LPT ports include 0 and the superscript digits 1 to 3.
bool isReservedDeviceName(const QString &name)
{
    static const QRegularExpression device(
            QStringLiteral("^(con|prn|aux|nul|conin\\$|conout\\$|(com|lpt)[0-9\\x{b9}\\x{b2}\\x{b3}]) *(\\..*)?$"),
            QRegularExpression::CaseInsensitiveOption);
    return device.match(name).hasMatch();
}
}

bool isPackageNameAllowed(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || forbiddenCharacters.contains(c))
            return false;
    }
    // Windows drops a trailing dot or space from a name, so the file would land elsewhere;
    // this refuses "." and ".." too.
    return !name.endsWith(QLatin1Char('.')) && !name.endsWith(QLatin1Char(' ')) && !isReservedDeviceName(name);
}
