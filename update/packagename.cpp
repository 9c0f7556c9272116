#include "update/packagename.h"

#include <QStringList>

bool isPackageNameAllowed(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    const QStringList segments = name.split(QLatin1Char('/'));
    if (segments.contains(QLatin1String("..")))
        return false;
    const QString &last = segments.last();
    return !last.isEmpty() && last != QLatin1String(".");
}
