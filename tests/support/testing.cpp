#include "testing.h"

#include "server/protocol.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

QByteArray pattern(int length, int seed)
{
    QByteArray bytes(length, '\0');
    quint32 state = 0x9E3779B9u * quint32(seed + 1);
    for (int i = 0; i < length; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

QByteArray runOutput(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return process.readAllStandardOutput();
}

bool inOwnNetworkNamespace()
{
    return QSysInfo::kernelType() == QLatin1String("linux") && !qEnvironmentVariable("TCPSERVER_OUTER_NETNS").isEmpty();
}

bool portListened(quint16 port)
{
    QTcpServer probe;
    return !probe.listen(QHostAddress::Any, port);
}

QByteArray lengthHeaderFor(int length)
{
    // 32 bits, little-endian, written out here rather than taken from the program.
    QByteArray header;
    for (int shift = 0; shift < 32; shift += 8)
        header.append(char(quint32(length) >> shift));
    return header;
}

QByteArray blockOf(const QByteArray &image, int index)
{
    const QByteArray bytes = image.mid(index * 1024, 1024);
    return bytes + QByteArray(1024 - bytes.size(), '\0');
}

// The device's waits are woken by its socket's signals (QSignalSpy::wait), not
// by looking every 10 ms as QTest::qWaitFor does: a conversation is thousands
// of them.
template<typename Signal>
bool TestDevice::waitUntil(const std::function<bool()> &done, Signal signal)
{
    QSignalSpy spy(&socket, signal);
    QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired())
        spy.wait(int(qMax<qint64>(1, deadline.remainingTime())));
    return done();
}

TestDevice::TestDevice(const QString &host, quint16 port)
{
    socket.connectToHost(host, port);
    (void)waitUntil(
            [this] {
                return socket.state() != QAbstractSocket::HostLookupState &&
                        socket.state() != QAbstractSocket::ConnectingState;
            },
            &QAbstractSocket::stateChanged);
    // Each request leaves at once as a segment of its own, as the device's do.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

bool TestDevice::isConnected() const
{
    return socket.state() == QAbstractSocket::ConnectedState;
}

void TestDevice::send(const QByteArray &request)
{
    socket.write(request);
    socket.flush();
}

QByteArray TestDevice::take(int count)
{
    (void)waitUntil([this, count] { return socket.bytesAvailable() >= count || !isConnected(); },
                    &QIODevice::readyRead);
    return socket.read(count);
}

bool TestDevice::closedByServer()
{
    return waitUntil([this] { return socket.state() == QAbstractSocket::UnconnectedState; },
                     &QAbstractSocket::stateChanged);
}

void TestDevice::close()
{
    socket.disconnectFromHost();
}

Answer length()
{
    return {Answer::Length, 0};
}

Answer block(int index)
{
    return {Answer::Block, index};
}

Answer nothing()
{
    return {Answer::Nothing, 0};
}

QString converse(TestDevice &device, const QByteArray &image, const Exchanges &exchanges,
                 const std::function<bool()> &read)
{
    for (int i = 0; i < exchanges.size(); ++i) {
        const Exchange &exchange = exchanges.at(i);
        const QString what = QStringLiteral("exchange %1 (%2)")
                                     .arg(i + 1)
                                     .arg(QString::fromLatin1(exchange.request.toPercentEncoding()));
        device.send(exchange.request);
        if (exchange.answer.kind == Answer::Length && device.take(4) != lengthHeaderFor(int(image.size())))
            return what + QStringLiteral(": not the length");
        if (exchange.answer.kind == Answer::Block && device.take(1024) != blockOf(image, exchange.answer.block))
            return what + QStringLiteral(": not block %1").arg(exchange.answer.block);
        if (exchange.answer.kind == Answer::Nothing && read && !read())
            return what + QStringLiteral(" was not read");
    }
    return QString();
}
