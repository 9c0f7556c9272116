#ifndef MINISIGN_H
#define MINISIGN_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// Keys and signatures in the formats of the minisign tool, with which release
// engineers sign updates.json; the updater only verifies.

// The bytes of a signature file worth reading: minisign reads four lines of bounded
// length, which fit in this, and ignores the rest.
constexpr int maxSignatureFileSize = 16384;

// A public key: the base64 line of a minisign .pub file ("RW...").
struct MinisignKey
{
    QByteArray id;        // 8 bytes
    QByteArray publicKey; // Ed25519, 32 bytes
};
bool readMinisignKey(const QString &text, MinisignKey &key);

// A signature file: an untrusted comment, the signature, a trusted comment and the
// global signature over signature and trusted comment, each on a line of its own, read
// exactly as minisign 0.11 reads them.
struct MinisignSignature
{
    bool prehashed = false; // "ED": the file's BLAKE2b-512 is signed, not its bytes
    QByteArray keyId;
    QByteArray signature;
    QByteArray trustedComment;
    QByteArray globalSignature;
};
bool readMinisignSignature(const QByteArray &text, MinisignSignature &signature);

// A key id as minisign prints it: 16 upper-case hex digits.
QString keyIdText(const QByteArray &id);

enum class SignatureCheck { Valid, Malformed, UntrustedKey, Mismatch };

// Checks signatureFile over the exact bytes of message against the trusted keys
// ("RW..." texts; one that cannot be read trusts nothing). keyId receives the id the
// signature names, once it could be read; trustedComment the comment it verified, only
// when the signature is valid.
SignatureCheck checkSignature(const QByteArray &message, const QByteArray &signatureFile,
                              const QStringList &trustedKeys, QString &keyId, QByteArray &trustedComment);

#endif
