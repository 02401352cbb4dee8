#include "device.h"

#include "image/sha256.h"
#include "server/protocol.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

qint64 percentile(QVector<qint64> values, double fraction)
{
    if (values.isEmpty())
        return 0;
    const int index = qMin(values.size() - 1, int(fraction * (values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + index, values.end());
    return values.at(index);
}

// Ends a line and flushes, so progress shows as it happens.
QTextStream &endLine(QTextStream &stream)
{
    stream << '\n';
    stream.flush();
    return stream;
}

} // namespace

QByteArray unescapeRequest(const QString &text)
{
    const QByteArray in = text.toUtf8();
    QByteArray out;
    for (int i = 0; i < in.size(); ++i) {
        if (in.at(i) != '\\' || i + 1 >= in.size()) {
            out.append(in.at(i));
            continue;
        }
        const char c = in.at(++i);
        switch (c) {
        case 'n': out.append('\n'); break;
        case 'r': out.append('\r'); break;
        case 't': out.append('\t'); break;
        case '0': out.append('\0'); break;
        case '\\': out.append('\\'); break;
        case 'x': {
            bool ok = false;
            const QByteArray digits = in.mid(i + 1, 2);
            const int value = digits.toInt(&ok, 16);
            if (ok && digits.size() == 2) {
                out.append(char(value));
                i += 2;
            } else {
                out.append("\\x");
            }
            break;
        }
        default: out.append('\\'); out.append(c);
        }
    }
    return out;
}

Device::Device(const DeviceOptions &options, QTextStream &out, QTextStream &err)
    : m_options(options)
    , m_out(out)
    , m_err(err)
{
}

DeviceStatus Device::fail(const QString &message)
{
    m_err << "error: " << message << endLine;
    return DeviceFailed;
}

DeviceStatus Device::run()
{
    std::unique_ptr<QTcpSocket> socket(new QTcpSocket);
    m_socket = socket.get();
    if (!connectToServer())
        return DeviceFailed;

    for (const QByteArray &request : qAsConst(m_options.extraRequests)) {
        pause();
        if (!send(request))
            return fail(QStringLiteral("could not send a request: %1").arg(m_socket->errorString()));
        // Watch for whatever comes back, without waiting longer than asked.
        QByteArray reply;
        QDeadlineTimer deadline(m_options.replyWaitMs);
        while (!deadline.hasExpired() && m_socket->state() == QAbstractSocket::ConnectedState) {
            if (m_socket->waitForReadyRead(int(deadline.remainingTime())))
                reply += m_socket->readAll();
        }
        reply += m_socket->readAll();
        m_out << "sent " << request.size() << " bytes (" << request.left(32).toHex() << "), got " << reply.size()
              << " bytes back" << (reply.isEmpty() ? "" : " (" + reply.left(16).toHex() + ")") << endLine;
    }

    if (m_options.disconnectOnConnect) {
        closeConnection();
        m_out << "disconnected before asking for the image, as asked" << endLine;
        return DeviceStoppedAsAsked;
    }

    QElapsedTimer clock;
    clock.start();
    pause();
    if (!send(protocol::kLengthRequest))
        return fail(QStringLiteral("could not send \"updata\": %1").arg(m_socket->errorString()));

    char header[protocol::kHeaderSize];
    if (m_options.expectRefusal) {
        // Without an image the server must say nothing at all.
        if (m_socket->waitForReadyRead(m_options.timeoutMs) || m_socket->bytesAvailable() > 0)
            return fail(QStringLiteral("expected no answer without an image, got %1 bytes")
                                .arg(m_socket->bytesAvailable()));
        m_out << "refused as expected: no answer to \"updata\" within " << m_options.timeoutMs << " ms" << endLine;
        closeConnection();
        return DeviceComplete;
    }
    if (!readExactly(header, sizeof header, QStringLiteral("the length header"),
                     QStringLiteral("; TcpServer answers nothing while no image is loaded: was Download pressed?")))
        return DeviceFailed;
    const qint32 length = protocol::lengthFromHeader(header);
    if (length < 0)
        return fail(QStringLiteral("the length header announces a negative length (%1)").arg(length));
    if (!nothingUnasked(QStringLiteral("the length header")))
        return DeviceFailed;
    if (length == 0)
        return fail(QStringLiteral("TcpServer has no image loaded (it announced a length of 0): check that the "
                                   "image file is in place and press Download"));
    m_out << "image length " << length << " bytes, " << protocol::blockCount(length) << " blocks" << endLine;

    if (m_options.disconnectAfterHeader) {
        closeConnection();
        m_out << "disconnected after the length header, as asked" << endLine;
        return DeviceStoppedAsAsked;
    }

    if (!receiveImage(length))
        return DeviceFailed;
    const double seconds = clock.nsecsElapsed() / 1e9;

    if (m_blocks < protocol::blockCount(length)) {
        // A fault mode ended the transfer early.
        summarize(seconds);
        return DeviceStoppedAsAsked;
    }
    if (!nothingUnasked(QStringLiteral("the last block")))
        return DeviceFailed;
    closeConnection();
    if (!summarize(seconds))
        return DeviceFailed;

    if (!m_options.outputPath.isEmpty()) {
        QFile file(m_options.outputPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(m_image) != m_image.size())
            return fail(QStringLiteral("cannot write %1").arg(m_options.outputPath));
    }
    return verify();
}

bool Device::connectToServer()
{
    // Several devices of distinct addresses on one cable: each connects from its own.
    if (!m_options.from.isEmpty() && !m_socket->bind(QHostAddress(m_options.from))) {
        fail(QStringLiteral("cannot connect from %1: %2").arg(m_options.from, m_socket->errorString()));
        return false;
    }
    m_socket->connectToHost(m_options.host, m_options.port);
    if (m_socket->waitForConnected(m_options.timeoutMs))
        return true;
    const QString where = QStringLiteral("%1:%2").arg(m_options.host).arg(m_options.port);
    switch (m_socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        fail(QStringLiteral("connection refused by %1 (is TcpServer running?)").arg(where));
        break;
    case QAbstractSocket::SocketTimeoutError:
        fail(QStringLiteral("time-out after %1 ms connecting to %2").arg(m_options.timeoutMs).arg(where));
        break;
    default: fail(QStringLiteral("cannot connect to %1: %2").arg(where, m_socket->errorString()));
    }
    return false;
}

void Device::pause()
{
    if (m_requestsSent > 0 && m_options.delayMs > 0)
        QThread::msleep(ulong(m_options.delayMs));
}

bool Device::send(const QByteArray &request)
{
    ++m_requestsSent;
    if (m_socket->write(request) != request.size())
        return false;
    return m_socket->waitForBytesWritten(m_options.timeoutMs) || m_socket->bytesToWrite() == 0;
}

bool Device::readExactly(char *into, qint64 count, const QString &what, const QString &hint)
{
    const QDeadlineTimer deadline(m_options.timeoutMs);
    qint64 got = 0;
    while (got < count) {
        if (m_socket->bytesAvailable() > 0) {
            got += m_socket->read(into + got, count - got);
            continue;
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            fail(QStringLiteral("short read: the connection closed after %1 of %2 bytes of %3")
                         .arg(got)
                         .arg(count)
                         .arg(what));
            return false;
        }
        if (!m_socket->waitForReadyRead(int(deadline.remainingTime()))) {
            if (m_socket->bytesAvailable() > 0)
                continue;
            if (deadline.hasExpired() || m_socket->error() == QAbstractSocket::SocketTimeoutError) {
                fail(QStringLiteral("time-out after %1 ms waiting for %2 (%3 of %4 bytes came)%5")
                             .arg(m_options.timeoutMs)
                             .arg(what)
                             .arg(got)
                             .arg(count)
                             .arg(got == 0 ? hint : QString()));
            } else {
                fail(QStringLiteral("short read: the connection closed after %1 of %2 bytes of %3")
                             .arg(got)
                             .arg(count)
                             .arg(what));
            }
            return false;
        }
    }
    return true;
}

bool Device::nothingUnasked(const QString &after)
{
    const qint64 extra = m_socket->bytesAvailable();
    if (extra == 0)
        return true;
    fail(QStringLiteral("the server sent %1 bytes nobody asked for after %2").arg(extra).arg(after));
    return false;
}

bool Device::receiveImage(qint32 length)
{
    const qint64 blocks = protocol::blockCount(length);
    m_image.reserve(length);
    m_turnaroundNs.reserve(int(blocks));
    char block[protocol::kBlockSize];
    const qint64 progressEvery = qMax<qint64>(1, blocks / 10);
    QElapsedTimer turnaround;
    for (m_blocks = 0; m_blocks < blocks; ++m_blocks) {
        if (m_blocks == m_options.disconnectAfterBlocks) {
            closeConnection();
            m_out << "disconnected after " << m_blocks << " blocks, as asked" << endLine;
            return true;
        }
        if (m_blocks == m_options.stopAfterBlocks) {
            m_out << "stopped asking after " << m_blocks << " blocks; holding the connection for " << m_options.holdMs
                  << " ms" << endLine;
            // The server must stay silent however long the device waits.
            m_socket->waitForReadyRead(m_options.holdMs);
            if (!nothingUnasked(QStringLiteral("the device stopped asking")))
                return false;
            closeConnection();
            return true;
        }
        pause();
        turnaround.start();
        if (!send(protocol::kBlockRequest))
            return fail(QStringLiteral("could not send \"ok\": %1").arg(m_socket->errorString())), false;
        if (!readExactly(block, sizeof block, QStringLiteral("block %1").arg(m_blocks + 1)))
            return false;
        m_turnaroundNs.append(turnaround.nsecsElapsed());
        if (!nothingUnasked(QStringLiteral("block %1").arg(m_blocks + 1)))
            return false;
        const int keep = int(qMin<qint64>(protocol::kBlockSize, length - m_image.size()));
        m_image.append(block, keep);
        if (keep < protocol::kBlockSize)
            m_filler = QByteArray(block + keep, protocol::kBlockSize - keep);
        if (!m_options.quiet && ((m_blocks + 1) % progressEvery == 0 || m_blocks + 1 == blocks))
            m_out << "block " << (m_blocks + 1) << "/" << blocks << endLine;
    }
    return true;
}

void Device::closeConnection()
{
    m_socket->disconnectFromHost();
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->waitForDisconnected(m_options.timeoutMs);
}

bool Device::summarize(double seconds)
{
    const double mib = m_image.size() / (1024.0 * 1024.0);
    m_out << "received " << m_image.size() << " bytes in " << m_blocks << " blocks, "
          << QString::number(seconds, 'f', 3) << " s, " << QString::number(seconds > 0 ? mib / seconds : 0, 'f', 2)
          << " MiB/s" << endLine;
    m_out << "turnaround per block: median " << QString::number(percentile(m_turnaroundNs, 0.5) / 1000.0, 'f', 1)
          << " us, 99th percentile " << QString::number(percentile(m_turnaroundNs, 0.99) / 1000.0, 'f', 1) << " us"
          << endLine;
    if (!m_options.timingsPath.isEmpty()) {
        QFile file(m_options.timingsPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
            fail(QStringLiteral("cannot write %1").arg(m_options.timingsPath));
            return false;
        }
        QTextStream timings(&file);
        for (qint64 ns : qAsConst(m_turnaroundNs))
            timings << QString::number(ns / 1000.0, 'f', 3) << '\n';
    }
    return true;
}

DeviceStatus Device::verify()
{
    if (m_filler.count('\0') != m_filler.size())
        return fail(QStringLiteral("the last block is not completed with zero bytes"));
    // The same digest TcpServer shows for the image it loaded.
    m_out << "sha256 received " << sha256Hex(m_image) << endLine;
    if (m_options.expectPath.isEmpty())
        return DeviceComplete;
    return compareWithExpected();
}

// The file is read a piece at a time: even the largest image is compared
// without a second copy of it in memory.
DeviceStatus Device::compareWithExpected()
{
    QFile file(m_options.expectPath);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1").arg(m_options.expectPath));
    Sha256 expected;
    QByteArray piece(1024 * 1024, '\0');
    qint64 at = 0;
    qint64 firstDifference = -1;
    for (;;) {
        const qint64 got = file.read(piece.data(), piece.size());
        if (got < 0)
            return fail(QStringLiteral("cannot read %1").arg(m_options.expectPath));
        if (got == 0)
            break;
        expected.addData(piece.constData(), got);
        const qint64 overlap = qBound<qint64>(0, m_image.size() - at, got);
        if (firstDifference < 0 && std::memcmp(piece.constData(), m_image.constData() + at, size_t(overlap)) != 0) {
            for (qint64 i = 0; firstDifference < 0; ++i) {
                if (piece.at(int(i)) != m_image.at(int(at + i)))
                    firstDifference = at + i;
            }
        }
        at += got;
    }
    m_out << "sha256 expected " << expected.hexResult() << endLine;
    if (at != m_image.size())
        return fail(QStringLiteral("MISMATCH: expected %1 bytes, received %2").arg(at).arg(m_image.size()));
    if (firstDifference >= 0)
        return fail(QStringLiteral("MISMATCH at byte %1").arg(firstDifference));
    m_out << "verified: the image matches byte for byte" << endLine;
    return DeviceComplete;
}
