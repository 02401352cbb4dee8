#include "server/socketio.h"

#include <winsock2.h>
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

} // namespace socketio

qintptr listenOnAdapter(const QString &adapter, quint16 port, QString *error)
{
    Q_UNUSED(adapter)
    Q_UNUSED(port)
    *error = QStringLiteral("listening on one adapter alone needs Linux");
    return -1;
}
