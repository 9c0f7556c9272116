#ifndef MANIFESTRULES_H
#define MANIFESTRULES_H

#include "update/oscompatibility.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// Applies the rules of updates.json to its text, in their order: JSON object, digest
// given, SHA-256 and size given when required (a signed manifest must pin its package
// with them), SHA-256, size and rollout well-formed where given, target "windows", Windows
// version rule, offered version more recent than runningVersion. Logs the first rule
// that fails and returns false; otherwise returns true with the manifest in offer.
bool acceptUpdateManifest(const QByteArray &text, const QString &runningVersion,
                          bool requireSha256AndSize, QJsonObject &offer,
                          const std::function<int()> &runningRank = runningOsVersionRank);

// The package's length that an accepted manifest states, or -1.
qint64 statedPackageSize(const QJsonObject &offer);

// Whether percent may be a rollout: the share of installs, 0 to 100, that take a version.
bool isRolloutPercent(double percent);
// The rollout that an accepted manifest states, 100 when it states none.
double statedRollout(const QJsonObject &offer);
// A rollout as the manifest gives it, without trailing zeros: 10, 0.5.
QString rolloutText(double percent);

// The place of an install in the rollout of version, from 0 to 100: uniform, independent
// between installs, and new for every version.
double rolloutPlace(const QByteArray &installIdentity, const QString &version);
// Whether an install at place takes the accepted offer; a newer place is not below a
// raised rollout's. Logs the refusal.
bool isRolledOutTo(const QJsonObject &offer, double place);

#endif
