#ifndef SHA256HASH_H
#define SHA256HASH_H

#include <QByteArray>
#include <QtGlobal>

typedef struct evp_md_ctx_st EVP_MD_CTX;

// SHA-256 from OpenSSL, which uses the processor's SHA instructions where it has them.
class Sha256Hash
{
public:
    Sha256Hash();
    ~Sha256Hash();
    Sha256Hash(const Sha256Hash &) = delete;
    Sha256Hash &operator=(const Sha256Hash &) = delete;

    void addData(const char *data, qint64 size);
    // Lower-case hex; ends the hash.
    QString hexResult();

private:
    EVP_MD_CTX *context;
};

#endif
