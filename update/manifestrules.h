#ifndef MANIFESTRULES_H
#define MANIFESTRULES_H

#include "update/oscompatibility.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// Applies the rules of updates.json to its text, in their order: JSON object, digest
// given, SHA-256 and size given when required (a signed manifest must pin its package
// with them), SHA-256 and size well-formed where given, target "windows", Windows
// version rule, offered version more recent than runningVersion. Logs the first rule
// that fails and returns false; otherwise returns true with the manifest in offer.
bool acceptUpdateManifest(const QByteArray &text, const QString &runningVersion,
                          bool requireSha256AndSize, QJsonObject &offer,
                          const std::function<int()> &runningRank = runningOsVersionRank);

// The package's length that an accepted manifest states, or -1.
qint64 statedPackageSize(const QJsonObject &offer);

#endif
