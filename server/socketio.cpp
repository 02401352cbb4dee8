#include "server/socketio.h"

#include <QAbstractSocket>
#include <QVariant>

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
    if (descriptor != -1)
        socketio::setKeepAliveTimes(descriptor, kIdleSeconds, kIntervalSeconds, kProbes);
}

bool writeNow(QAbstractSocket *socket, const char *data, qint64 size)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return false;
    qint64 sent = 0;
    const qintptr descriptor = socket->socketDescriptor();
    if (descriptor != -1 && socket->bytesToWrite() == 0) {
        sent = socketio::sendDirect(descriptor, data, size);
        // The peer has gone: the socket finds out on its own and reports it.
        if (sent < 0)
            return false;
    }
    if (sent < size) {
        if (socket->write(data + sent, size - sent) != size - sent)
            return false;
        // Flushing may find the connection failed and close it at once.
        socket->flush();
    }
    return socket->state() == QAbstractSocket::ConnectedState;
}
