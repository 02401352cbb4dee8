#ifndef PROTOCOL_H
#define PROTOCOL_H

#include <QByteArray>
#include <QtGlobal>

// The download protocol between the device and this program, as both ends
// see it: the device connects to port 10013, sends "updata" for the image
// length and "ok" for each 1024-byte block.
namespace protocol {

constexpr quint16 kPort = 10013;
constexpr int kBlockSize = 1024;
constexpr int kHeaderSize = 4;
constexpr char kLengthRequest[] = "updata";
constexpr char kBlockRequest[] = "ok";

// The answer to "updata": the length as a signed 32-bit little-endian integer.
QByteArray lengthHeader(qint32 length);
qint32 lengthFromHeader(const char *header);

// Number of blocks an image of this length goes out in: whole blocks, the last
// one completed with zero bytes.
qint64 blockCount(qint64 length);

} // namespace protocol

#endif // PROTOCOL_H
