#include "server/socketio.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

namespace socketio {

void setKeepAliveTimes(qintptr descriptor, int idleSeconds, int intervalSeconds, int probes)
{
    // Windows counts ten probes whatever it is told.
    Q_UNUSED(probes)
    tcp_keepalive settings{1, ULONG(idleSeconds * 1000), ULONG(intervalSeconds * 1000)};
    DWORD returned = 0;
    WSAIoctl(SOCKET(descriptor), SIO_KEEPALIVE_VALS, &settings, sizeof settings, nullptr, 0, &returned, nullptr,
             nullptr);
}

qint64 sendDirect(qintptr descriptor, const char *data, qint64 size)
{
    const int done = ::send(SOCKET(descriptor), data, int(size), 0);
    if (done != SOCKET_ERROR)
        return qint64(done);
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

namespace {

QString lastError()
{
    return qt_error_string(WSAGetLastError());
}

qintptr listening(SOCKET fd, const sockaddr *address, int size, QString *error)
{
    // Another program that listens on the port keeps it: Windows would
    // otherwise let two listen at once and hand the device to either.
    const BOOL on = TRUE;
    u_long nonBlocking = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&on), sizeof on) != 0 ||
        ioctlsocket(fd, FIONBIO, &nonBlocking) != 0 || ::bind(fd, address, size) != 0 || ::listen(fd, 50) != 0) {
        *error = lastError();
        closesocket(fd);
        return -1;
    }
    return qintptr(fd);
}

} // namespace

qintptr listenOnAll(quint16 port, QString *error)
{
    SOCKET fd = ::socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    if (fd != INVALID_SOCKET) {
        // IPv4 devices reach it too, as ::ffff:a.b.c.d.
        const DWORD off = 0;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char *>(&off), sizeof off);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(port);
        address.sin6_addr = in6addr_any;
        return listening(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address, error);
    }
    fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd == INVALID_SOCKET) {
        *error = lastError();
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return listening(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address, error);
}

qintptr listenOnAdapter(const QByteArray &adapter, quint16 port, QString *error)
{
    Q_UNUSED(adapter)
    Q_UNUSED(port)
    *error = QStringLiteral("listening on one adapter alone needs Linux");
    return -1;
}

qintptr accept(qintptr listener, Acceptance *acceptance, QString *error)
{
    const SOCKET fd = ::accept(SOCKET(listener), nullptr, nullptr);
    if (fd != INVALID_SOCKET) {
        *acceptance = Acceptance::Connection;
        return qintptr(fd);
    }
    const int failure = WSAGetLastError();
    *error = qt_error_string(failure);
    if (failure == WSAEWOULDBLOCK)
        *acceptance = Acceptance::NoneWaiting;
    else if (failure == WSAECONNRESET || failure == WSAEINTR)
        *acceptance = Acceptance::Gone;
    else
        *acceptance = Acceptance::CannotNow;
    return -1;
}

quint16 localPort(qintptr descriptor)
{
    sockaddr_storage address{};
    int size = sizeof address;
    if (::getsockname(SOCKET(descriptor), reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return 0;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
}

void closeSocket(qintptr descriptor)
{
    closesocket(SOCKET(descriptor));
}

qint64 bytesPending(qintptr descriptor)
{
    u_long pending = 0;
    return ioctlsocket(SOCKET(descriptor), FIONREAD, &pending) == 0 ? qint64(pending) : 0;
}

} // namespace socketio
