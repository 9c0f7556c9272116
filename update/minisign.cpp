#include "update/minisign.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace {
const QByteArray ed25519Algorithm("Ed");
const QByteArray prehashedAlgorithm("ED");
constexpr int keyIdSize = 8;
constexpr int publicKeySize = 32;
constexpr int signatureSize = 64;

QByteArray fromStrictBase64(const QByteArray &text, int expectedSize, bool &ok)
{
    const QByteArray::FromBase64Result decoded =
            QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    ok = ok && decoded && decoded.decoded.size() == expectedSize;
    return decoded.decoded;
}

bool verifyEd25519(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature)
{
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
            EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                        reinterpret_cast<const unsigned char *>(publicKey.constData()),
                                        size_t(publicKey.size())),
            EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return key && context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1
            && EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
                                size_t(signature.size()),
                                reinterpret_cast<const unsigned char *>(message.constData()),
                                size_t(message.size())) == 1;
}

QByteArray blake2b512(const QByteArray &message)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(message.constData(), size_t(message.size()), digest, &length, EVP_blake2b512(), nullptr) != 1)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length));
}
}

bool readMinisignKey(const QString &text, MinisignKey &key)
{
    bool ok = true;
    const QByteArray decoded =
            fromStrictBase64(text.trimmed().toLatin1(), 2 + keyIdSize + publicKeySize, ok);
    if (!ok || !decoded.startsWith(ed25519Algorithm))
        return false;
    key.id = decoded.mid(2, keyIdSize);
    key.publicKey = decoded.mid(2 + keyIdSize);
    return true;
}

bool readMinisignSignature(const QByteArray &text, MinisignSignature &signature)
{
    static const QByteArray untrustedPrefix("untrusted comment: ");
    static const QByteArray trustedPrefix("trusted comment: ");
    if (text.size() > maxSignatureFileSize)
        return false;
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() != 4)
        return false;
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    bool ok = lines[0].startsWith(untrustedPrefix) && lines[2].startsWith(trustedPrefix);
    const QByteArray signedPart = fromStrictBase64(lines[1], 2 + keyIdSize + signatureSize, ok);
    signature.globalSignature = fromStrictBase64(lines[3], signatureSize, ok);
    const QByteArray algorithm = signedPart.left(2);
    if (!ok || (algorithm != ed25519Algorithm && algorithm != prehashedAlgorithm))
        return false;
    signature.prehashed = algorithm == prehashedAlgorithm;
    signature.keyId = signedPart.mid(2, keyIdSize);
    signature.signature = signedPart.mid(2 + keyIdSize);
    signature.trustedComment = lines[2].mid(trustedPrefix.size());
    return true;
}

QString keyIdText(const QByteArray &id)
{
    // minisign prints the id as a little-endian number.
    QByteArray bigEndian = id;
    std::reverse(bigEndian.begin(), bigEndian.end());
    return QString::fromLatin1(bigEndian.toHex().toUpper());
}

SignatureCheck checkSignature(const QByteArray &message, const QByteArray &signatureFile,
                              const QStringList &trustedKeys, QString &keyId, QByteArray &trustedComment)
{
    MinisignSignature signature;
    if (!readMinisignSignature(signatureFile, signature))
        return SignatureCheck::Malformed;
    keyId = keyIdText(signature.keyId);
    bool trusted = false;
    for (const QString &text : trustedKeys) {
        MinisignKey key;
        if (!readMinisignKey(text, key) || key.id != signature.keyId)
            continue;
        trusted = true;
        const QByteArray signedBytes = signature.prehashed ? blake2b512(message) : message;
        if (verifyEd25519(key.publicKey, signedBytes, signature.signature)
                && verifyEd25519(key.publicKey, signature.signature + signature.trustedComment,
                                 signature.globalSignature)) {
            trustedComment = signature.trustedComment;
            return SignatureCheck::Valid;
        }
    }
    return trusted ? SignatureCheck::Mismatch : SignatureCheck::UntrustedKey;
}
