#ifndef MANIFESTRULES_H
#define MANIFESTRULES_H

#include "update/oscompatibility.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// Applies the rules of updates.json to its text, in their order: JSON object, digest
// given, target "windows", Windows version rule, offered version more recent than
// runningVersion. Logs the first rule that fails and returns false; otherwise returns
// true with the manifest in offer.
bool acceptUpdateManifest(const QByteArray &text, const QString &runningVersion, QJsonObject &offer,
                          const std::function<int()> &runningRank = runningOsVersionRank);

#endif
