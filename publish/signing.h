#ifndef SIGNING_H
#define SIGNING_H

#include <QByteArray>
#include <QString>

// Signs the text of updates.json by running minisign with the secret key at keyPath,
// outside the remote folder; the signature file's text goes to signature. False, with
// the reason in error, when minisign cannot be run or fails.
bool signManifest(const QByteArray &manifest, const QString &keyPath, QByteArray &signature, QString &error);

#endif
