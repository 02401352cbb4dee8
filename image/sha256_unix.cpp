#include "image/sha256.h"

#include <openssl/evp.h>

struct Sha256::State
{
    EVP_MD_CTX *context = EVP_MD_CTX_new();
};

Sha256::Sha256()
    : d(new State)
    , m_good(start())
{
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(d->context);
    delete d;
}

bool Sha256::start()
{
    return d->context && EVP_DigestInit_ex(d->context, EVP_sha256(), nullptr) == 1;
}

bool Sha256::add(const char *data, qint64 length)
{
    return EVP_DigestUpdate(d->context, data, size_t(length)) == 1;
}

bool Sha256::result(unsigned char *digest)
{
    return EVP_DigestFinal_ex(d->context, digest, nullptr) == 1;
}
