#include "image/sha256.h"

namespace {
const int kDigestBytes = 32;
// Both libraries take lengths narrower than an image may be long.
const qint64 kChunk = qint64(1) << 30;
} // namespace

void Sha256::addData(const char *data, qint64 length)
{
    for (qint64 at = 0; m_good && at < length; at += kChunk)
        m_good = add(data + at, qMin(kChunk, length - at));
}

QString Sha256::hexResult()
{
    unsigned char digest[kDigestBytes] = {};
    if (!m_good || !result(digest))
        return QString();
    m_good = false;
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), kDigestBytes).toHex());
}

QString sha256Hex(const QByteArray &bytes)
{
    Sha256 digest;
    digest.addData(bytes.constData(), bytes.size());
    return digest.hexResult();
}
