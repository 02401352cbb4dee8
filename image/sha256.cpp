#include "image/sha256.h"

#ifdef Q_OS_WIN
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace {
const int kDigestBytes = 32;
// Both libraries take lengths narrower than an image may be long.
const qint64 kChunk = qint64(1) << 30;
} // namespace

QString sha256Hex(const QByteArray &bytes)
{
    unsigned char digest[kDigestBytes] = {};
    bool done = false;
#ifdef Q_OS_WIN
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
        BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        done = true;
        for (qint64 at = 0; done && at < bytes.size(); at += kChunk) {
            const ULONG length = ULONG(qMin<qint64>(kChunk, bytes.size() - at));
            auto *data = reinterpret_cast<PUCHAR>(const_cast<char *>(bytes.constData() + at));
            done = BCRYPT_SUCCESS(BCryptHashData(hash, data, length, 0));
        }
        done = done && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, kDigestBytes, 0));
    }
    if (hash)
        BCryptDestroyHash(hash);
    if (algorithm)
        BCryptCloseAlgorithmProvider(algorithm, 0);
#else
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    if (context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1) {
        done = true;
        for (qint64 at = 0; done && at < bytes.size(); at += kChunk)
            done = EVP_DigestUpdate(context, bytes.constData() + at, size_t(qMin<qint64>(kChunk, bytes.size() - at))) == 1;
        done = done && EVP_DigestFinal_ex(context, digest, nullptr) == 1;
    }
    EVP_MD_CTX_free(context);
#endif
    // A library that fails gives no digest rather than a wrong one.
    if (!done)
        return QString();
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), kDigestBytes).toHex());
}
