#include "server/protocol.h"

#include <QtEndian>

namespace protocol {

QByteArray lengthHeader(qint32 length)
{
    QByteArray header(kHeaderSize, '\0');
    qToLittleEndian<qint32>(length, header.data());
    return header;
}

qint32 lengthFromHeader(const char *header)
{
    return qFromLittleEndian<qint32>(header);
}

qint64 blockCount(qint64 length)
{
    return length <= 0 ? 0 : (length + kBlockSize - 1) / kBlockSize;
}

} // namespace protocol
