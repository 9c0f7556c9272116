#ifndef VERSIONCOMPARE_H
#define VERSIONCOMPARE_H

#include <QString>

// 1 when candidate counts as more recent than current, 0 when equal, -1 when older.
// Components are compared left to right as numbers; "x" is a wildcard, and when all
// shared components are equal the version with fewer components is the more recent.
int compareVersions(const QString &candidate, const QString &current);

// Whether every component of version is "x" or a number of decimal digits that
// compareVersions reads as a number; any other component silently counts as 0 there.
bool isVersionWellFormed(const QString &version);

#endif
