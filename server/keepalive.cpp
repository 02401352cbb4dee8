#include "server/keepalive.h"

#include <QAbstractSocket>
#include <QVariant>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <mstcpip.h>
#else
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
