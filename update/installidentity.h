#ifndef INSTALLIDENTITY_H
#define INSTALLIDENTITY_H

#include <QByteArray>
#include <QString>

// The install's identity: 128 random bits, made on first use and kept in the updates
// folder, from which its place in every rollout follows. False, after logging why, when
// no identity could be kept: a new one on every run would end any rollout early.
bool installIdentity(const QString &updatesFolder, QByteArray &identity);

#endif
