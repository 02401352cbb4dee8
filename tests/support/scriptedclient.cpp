#include "scriptedclient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

ScriptedClient::ScriptedClient(const QString &host, quint16 port)
{
    socket.connectToHost(host, port);
    const QDeadlineTimer deadline(5000);
    while (socket.state() != QAbstractSocket::ConnectedState && socket.state() != QAbstractSocket::UnconnectedState &&
           !deadline.hasExpired())
        QTest::qWait(1);
    // Each request must leave at once as a segment of its own: otherwise a
    // request that gets no answer (and so no ACK until the delayed one) holds
    // the next ones back, and they arrive merged into one read.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

bool ScriptedClient::isConnected() const
{
    return socket.state() == QAbstractSocket::ConnectedState;
}

void ScriptedClient::send(const QByteArray &request)
{
    socket.write(request);
    socket.flush();
}

QByteArray ScriptedClient::take(int count, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (socket.bytesAvailable() < count && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return socket.read(count);
}

bool ScriptedClient::quietFor(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (socket.bytesAvailable() > 0)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return socket.bytesAvailable() == 0;
}

bool ScriptedClient::closedByServer(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return socket.state() != QAbstractSocket::ConnectedState;
}

QByteArray ScriptedClient::pending()
{
    return socket.readAll();
}

void ScriptedClient::close()
{
    socket.disconnectFromHost();
}
