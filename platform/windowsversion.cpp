#include "platform/windowsversion.h"

// Also what defines Q_OS_WIN: without a Qt header first, the Windows branch would vanish.
#include <QOperatingSystemVersion>

namespace {
// No Windows at all: a value outside the table of known versions.
constexpr int unknownWindowsVersion = 0x0000;
}

int runningWindowsVersion()
{
#ifdef Q_OS_WIN
    const QOperatingSystemVersion os = QOperatingSystemVersion::current();
    const int major = os.majorVersion();
    const int minor = os.minorVersion();
    if (major == 10 && minor == 0)
        return 0x00c0;
    if (major == 6) {
        switch (minor) {
        case 0: return 0x0080;
        case 1: return 0x0090;
        case 2: return 0x00a0;
        case 3: return 0x00b0;
        default: break;
        }
    }
    if (major == 5)
        return minor == 0 ? 0x0020 : minor == 1 ? 0x0030 : 0x0040;
    if (major < 5)
        return 0x0010;
    return unknownWindowsVersion;
#else
    return unknownWindowsVersion;
#endif
}
