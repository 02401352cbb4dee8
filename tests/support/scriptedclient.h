#ifndef SCRIPTEDCLIENT_H
#define SCRIPTEDCLIENT_H

#include <QByteArray>
#include <QTcpSocket>

// A device played by the test, in the test's own event loop: every wait keeps
// the loop (and so the server under test) running, and every wait is bounded.
class ScriptedClient
{
public:
    explicit ScriptedClient(const QString &host = QStringLiteral("127.0.0.1"), quint16 port = 10013);

    bool isConnected() const;
    void send(const QByteArray &request);
    // Waits until count bytes have come (or the time is up) and returns what came.
    QByteArray take(int count, int timeoutMs = 5000);
    // True when nothing at all arrives within ms.
    bool quietFor(int ms);
    // True when the server closes the connection within timeoutMs.
    bool closedByServer(int timeoutMs = 3000);
    // Everything received so far and not taken.
    QByteArray pending();
    void close();

    QTcpSocket socket;
};

#endif // SCRIPTEDCLIENT_H
