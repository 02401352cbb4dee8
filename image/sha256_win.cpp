#include "image/sha256.h"

#include <windows.h>
#include <bcrypt.h>

struct Sha256::State
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256()
    : d(new State)
    , m_good(start())
{
}

Sha256::~Sha256()
{
    if (d->hash)
        BCryptDestroyHash(d->hash);
    if (d->algorithm)
        BCryptCloseAlgorithmProvider(d->algorithm, 0);
    delete d;
}

bool Sha256::start()
{
    return BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&d->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
            BCRYPT_SUCCESS(BCryptCreateHash(d->algorithm, &d->hash, nullptr, 0, nullptr, 0, 0));
}

bool Sha256::add(const char *data, qint64 length)
{
    auto *bytes = reinterpret_cast<PUCHAR>(const_cast<char *>(data));
    return BCRYPT_SUCCESS(BCryptHashData(d->hash, bytes, ULONG(length), 0));
}

bool Sha256::result(unsigned char *digest)
{
    return BCRYPT_SUCCESS(BCryptFinishHash(d->hash, digest, 32, 0));
}
