#include "update/packagename.h"

#include <QRegularExpression>
#include <QStringList>

namespace {
// Characters that no file name on Windows may hold, besides the control characters.
const QLatin1String forbiddenCharacters("\\:<>\"|?*");

// Windows opens a device, not a file, for these names, whatever the extension.
bool isReservedDeviceName(const QString &segment)
{
    static const QRegularExpression device(
            QStringLiteral("^(con|prn|aux|nul|com[1-9]|lpt[1-9]) *(\\..*)?$"),
            QRegularExpression::CaseInsensitiveOption);
    return device.match(segment).hasMatch();
}

// Windows drops a trailing dot or space from a name, so the file would land elsewhere.
bool isStorableOnWindows(const QString &segment)
{
    if (segment.isEmpty() || segment == QLatin1String("."))
        return true;
    return !segment.endsWith(QLatin1Char('.')) && !segment.endsWith(QLatin1Char(' '))
            && !isReservedDeviceName(segment);
}
}

bool isPackageNameAllowed(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || forbiddenCharacters.contains(c))
            return false;
    }
    const QStringList segments = name.split(QLatin1Char('/'));
    for (const QString &segment : segments) {
        if (segment == QLatin1String("..") || !isStorableOnWindows(segment))
            return false;
    }
    const QString &last = segments.last();
    return !last.isEmpty() && last != QLatin1String(".");
}
