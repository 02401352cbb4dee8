#include "server/socketio.h"

#include <QAbstractSocket>
#include <QVariant>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <mstcpip.h>
#else
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {
// Idle for 10 s, then a probe every 2 s; 3 unanswered probes end it.
const int kIdleSeconds = 10;
const int kIntervalSeconds = 2;
const int kProbes = 3;
} // namespace

void enableKeepAlive(QAbstractSocket *socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const qintptr descriptor = socket->socketDescriptor();
    if (descriptor == -1)
        return;
#ifdef Q_OS_WIN
    tcp_keepalive settings{1, kIdleSeconds * 1000, kIntervalSeconds * 1000};
    DWORD returned = 0;
    WSAIoctl(SOCKET(descriptor), SIO_KEEPALIVE_VALS, &settings, sizeof settings, nullptr, 0, &returned, nullptr,
             nullptr);
#else
    const int fd = int(descriptor);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kIdleSeconds, sizeof kIdleSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kIntervalSeconds, sizeof kIntervalSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kProbes, sizeof kProbes);
#endif
}

void writeNow(QAbstractSocket *socket, const char *data, qint64 size)
{
    qint64 sent = 0;
    const qintptr descriptor = socket->socketDescriptor();
    if (descriptor != -1 && socket->bytesToWrite() == 0 && socket->state() == QAbstractSocket::ConnectedState) {
#ifdef Q_OS_WIN
        const int done = ::send(SOCKET(descriptor), data, int(size), 0);
#else
        // Never a SIGPIPE for a peer that has gone: the socket reports it.
        const ssize_t done = ::send(int(descriptor), data, size_t(size), MSG_NOSIGNAL);
#endif
        sent = done > 0 ? qint64(done) : 0;
    }
    if (sent < size) {
        socket->write(data + sent, size - sent);
        socket->flush();
    }
}
