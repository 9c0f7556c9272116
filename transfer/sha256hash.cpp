#include "transfer/sha256hash.h"

#include <QString>

#include <openssl/evp.h>

Sha256Hash::Sha256Hash()
    : context(EVP_MD_CTX_new())
{
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
}

Sha256Hash::~Sha256Hash()
{
    EVP_MD_CTX_free(context);
}

void Sha256Hash::addData(const char *data, qint64 size)
{
    EVP_DigestUpdate(context, data, size_t(size));
}

QString Sha256Hash::hexResult()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}
