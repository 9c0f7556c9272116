#include "update/minisign.h"

#include <QRegularExpression>

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace {
const QByteArray ed25519Algorithm("Ed");
const QByteArray prehashedAlgorithm("ED");
constexpr int keyIdSize = 8;
constexpr int publicKeySize = 32;
constexpr int signatureSize = 64;

// Base64 as minisign reads it: padded to whole groups of four, "=" only at the end,
// and bits beyond the last byte not checked.
QByteArray fromMinisignBase64(const QByteArray &text, int expectedSize, bool &ok)
{
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9+/]+={0,2}$"));
    ok = ok && text.size() % 4 == 0 && shape.match(QString::fromLatin1(text)).hasMatch();
    const QByteArray::FromBase64Result decoded =
            QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    ok = ok && decoded && decoded.decoded.size() == expectedSize;
    return decoded.decoded;
}

// The room minisign gives each line of a signature file, its line feed included.
int base64LineBuffer(int bytes)
{
    return (bytes + 2) / 3 * 4 + 1 + 2;
}
constexpr int untrustedCommentBuffer = 1024;
constexpr int trustedCommentBuffer = 8192;

// The next line as minisign reads it, with fgets() into a buffer of bufferSize bytes:
// at most bufferSize - 1 bytes, up to a line feed. Its text ends at the first NUL, CR or
// LF; ended is false when no line feed came before the buffer filled or a NUL. False
// when no byte is left.
bool readLine(const QByteArray &text, int &position, int bufferSize, QByteArray &line, bool &ended)
{
    if (position >= text.size())
        return false;
    const int feed = text.indexOf('\n', position);
    const int end = std::min(feed < 0 ? text.size() : feed + 1, position + bufferSize - 1);
    line = text.mid(position, end - position);
    position = end;
    const int nul = line.indexOf('\0');
    if (nul >= 0)
        line.truncate(nul);
    ended = line.endsWith('\n');
    for (int i = 0; i < line.size(); ++i) {
        if (line.at(i) == '\r' || line.at(i) == '\n') {
            line.truncate(i);
            break;
        }
    }
    return true;
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
            fromMinisignBase64(text.trimmed().toLatin1(), 2 + keyIdSize + publicKeySize, ok);
    if (!ok || !decoded.startsWith(ed25519Algorithm))
        return false;
    key.id = decoded.mid(2, keyIdSize);
    key.publicKey = decoded.mid(2 + keyIdSize);
    return true;
}

bool readMinisignSignature(const QByteArray &text, MinisignSignature &signature)
{
    // Four lines, each read as minisign reads it: the first three must end within their
    // room, the last need not; whatever follows them is ignored.
    static const QByteArray untrustedPrefix("untrusted comment: ");
    static const QByteArray trustedPrefix("trusted comment: ");
    int position = 0;
    QByteArray untrusted, signed64, trusted, global64;
    bool untrustedEnded = false, signedEnded = false, trustedEnded = false, globalEnded = false;
    bool ok = readLine(text, position, untrustedCommentBuffer, untrusted, untrustedEnded) && untrustedEnded
            && untrusted.startsWith(untrustedPrefix)
            && readLine(text, position, base64LineBuffer(2 + keyIdSize + signatureSize), signed64, signedEnded)
            && signedEnded
            && readLine(text, position, trustedCommentBuffer, trusted, trustedEnded) && trustedEnded
            && trusted.startsWith(trustedPrefix)
            && readLine(text, position, base64LineBuffer(signatureSize), global64, globalEnded);
    const QByteArray signedPart = fromMinisignBase64(signed64, 2 + keyIdSize + signatureSize, ok);
    signature.globalSignature = fromMinisignBase64(global64, signatureSize, ok);
    const QByteArray algorithm = signedPart.left(2);
    if (!ok || (algorithm != ed25519Algorithm && algorithm != prehashedAlgorithm))
        return false;
    signature.prehashed = algorithm == prehashedAlgorithm;
    signature.keyId = signedPart.mid(2, keyIdSize);
    signature.signature = signedPart.mid(2 + keyIdSize);
    signature.trustedComment = trusted.mid(trustedPrefix.size());
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
