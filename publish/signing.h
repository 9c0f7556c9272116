#ifndef SIGNING_H
#define SIGNING_H

#include <QByteArray>
#include <QString>

// Signs the text of updates.json by running minisign with the secret key at keyPath,
// outside the remote folder, with a trusted comment that states the time of signing,
// the file and the time of expiry, expiresDays days later; the signature file's text
// goes to signature. False, with the reason in error, when minisign cannot be run or
// fails.
bool signManifest(const QByteArray &manifest, const QString &keyPath, int expiresDays, QByteArray &signature,
                  QString &error);

// What a signature that signManifest made states: "Signed updates.json with key ... at
// ..., valid until ...".
QString signingReport(const QByteArray &signature);

// The public key ("RW...") of the secret key at keyPath, as minisign recreates it.
bool readPublicKeyOfSecretKey(const QString &keyPath, QString &keyText, QString &error);

#endif
