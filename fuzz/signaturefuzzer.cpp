#include "fuzz/fuzzsupport.h"
#include "update/minisign.h"

// Input: the bytes of updates.json.minisig, checked against the manifest that the seeds sign,
// with the key that signed them trusted; also read as a public key.
namespace {
const QByteArray manifest("{\"version\": \"2.1\"}\n");
const QStringList trustedKeys{QStringLiteral("RWSSzzw3QCE+N0KyJUAYZbQNYWnaz0JdrvP9SiEZH7K/0H+p86v61I+D")};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));

    MinisignSignature signature;
    const bool readable = readMinisignSignature(text, signature);
    expect(!readable || (signature.keyId.size() == 8 && signature.signature.size() == 64 && signature.globalSignature.size() == 64),
           "a readable signature has the sizes of minisign's");

    QString keyId;
    QByteArray trustedComment;
    const SignatureCheck check = checkSignature(manifest, text, trustedKeys, keyId, trustedComment);
    expect((check == SignatureCheck::Malformed) == !readable, "only an unreadable signature is malformed");
    expect(check == SignatureCheck::Malformed || keyId.size() == 16, "a readable signature names a key id");
    if (check == SignatureCheck::Valid) {
        QString otherKeyId;
        expect(checkSignature(manifest + ' ', text, trustedKeys, otherKeyId, trustedComment) == SignatureCheck::Mismatch,
               "a signature holds for the bytes it signs alone");
    }

    MinisignKey key;
    expect(!readMinisignKey(QString::fromLatin1(text), key) || (key.id.size() == 8 && key.publicKey.size() == 32),
           "a readable public key has the sizes of minisign's");
    return 0;
}
