#ifndef WINDOWSVERSION_H
#define WINDOWSVERSION_H

// The running Windows version, coded as Qt's QSysInfo::WinVersion values
// (0x0090 Windows 7 ... 0x00c0 Windows 10). On other systems a value that names
// no Windows version, which ranks above every known one.
int runningWindowsVersion();

#endif
