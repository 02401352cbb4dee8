#include "server/socketio.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
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

namespace {

qintptr listening(int fd, const sockaddr *address, socklen_t size, QString *error)
{
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 || ::bind(fd, address, size) != 0 ||
        ::listen(fd, 50) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

qintptr listenOnAll(quint16 port, QString *error)
{
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd >= 0) {
        // IPv4 devices reach it too, as ::ffff:a.b.c.d.
        const int off = 0;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        sockaddr_in6 address = {};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(port);
        address.sin6_addr = in6addr_any;
        return listening(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address, error);
    }
    // A system without IPv6.
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return listening(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address, error);
}

qintptr listenOnAdapter(const QByteArray &adapter, quint16 port, QString *error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    // The adapter first: two listeners on one port are told apart by it.
    if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, adapter.constData(), socklen_t(adapter.size())) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return listening(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address, error);
}

qintptr accept(qintptr listener, Acceptance *acceptance, QString *error)
{
    const int fd = ::accept4(int(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
        *acceptance = Acceptance::Connection;
        return fd;
    }
    const int failure = errno;
    *error = QString::fromLocal8Bit(std::strerror(failure));
    if (failure == EAGAIN || failure == EWOULDBLOCK)
        *acceptance = Acceptance::NoneWaiting;
    else if (failure == ECONNABORTED || failure == EINTR || failure == EPROTO)
        *acceptance = Acceptance::Gone;
    else
        *acceptance = Acceptance::CannotNow;
    return -1;
}

quint16 localPort(qintptr descriptor)
{
    sockaddr_storage address = {};
    socklen_t size = sizeof address;
    if (::getsockname(int(descriptor), reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return 0;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
}

void closeSocket(qintptr descriptor)
{
    ::close(int(descriptor));
}

qint64 bytesPending(qintptr descriptor)
{
    int pending = 0;
    return ::ioctl(int(descriptor), FIONREAD, &pending) == 0 ? qint64(pending) : 0;
}

} // namespace socketio
