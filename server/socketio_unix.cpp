#include "server/socketio.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace socketio {

void setKeepAliveTimes(qintptr descriptor, int idleSeconds, int intervalSeconds, int probes)
{
    const int fd = int(descriptor);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

qint64 sendDirect(qintptr descriptor, const char *data, qint64 size)
{
    // Never a SIGPIPE for a peer that has gone: the socket reports it.
    const ssize_t done = ::send(int(descriptor), data, size_t(size), MSG_NOSIGNAL);
    if (done >= 0)
        return qint64(done);
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

} // namespace socketio

qintptr listenOnAdapter(const QString &adapter, quint16 port, QString *error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    const int on = 1;
    const QByteArray name = adapter.toUtf8();
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    // The adapter first: two listeners on one port are told apart by it.
    if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name.constData(), socklen_t(name.size())) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 50) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}
