#ifndef SOCKETIO_H
#define SOCKETIO_H

#include <QString>
#include <QtGlobal>

class QAbstractSocket;

// The connection as the system sees it: what Qt does not offer, or offers
// at a cost per block.

// Has the system probe an idle connection every few seconds, so that a peer
// that vanished without closing (a device switched off mid-flash, a pulled
// cable) is found in seconds rather than the system's two hours.
void enableKeepAlive(QAbstractSocket *socket);

// Writes to the connection at once: straight to the system where nothing
// waits before it in the socket's own buffer, which saves the event loop the
// work of watching for room to write, for every block; what the system
// takes not at once goes to the socket's buffer, behind it. False when the
// connection could not take it (it has closed or failed meanwhile): nothing
// of it counts as written then.
bool writeNow(QAbstractSocket *socket, const char *data, qint64 size);

// The platform's halves (socketio_unix.cpp, socketio_win.cpp).
namespace socketio {
// A listening socket on port (0: any free one), on every address: IPv6 and
// IPv4 alike where the system has IPv6. Returns its descriptor, or -1 and why
// not in the system's words.
qintptr listenOnAll(quint16 port, QString *error);
// The same on every IPv4 address of one adapter alone (Linux: SO_BINDTODEVICE),
// so that several adapters that hold the same address each have a listener of
// their own. adapter: the interface's name as the system has it, in bytes.
qintptr listenOnAdapter(const QByteArray &adapter, quint16 port, QString *error);

enum class Acceptance {
    Connection, // a connection, its descriptor returned
    NoneWaiting,
    Gone, // this one went away before it was taken; others may follow
    CannotNow, // none can be taken now (no descriptor left, no memory): it waits
};
// Takes the next connection waiting on the listener, without blocking.
qintptr accept(qintptr listener, Acceptance *acceptance, QString *error);
quint16 localPort(qintptr descriptor);
void closeSocket(qintptr descriptor);
// Bytes that arrived on the connection and are not read yet.
qint64 bytesPending(qintptr descriptor);

void setKeepAliveTimes(qintptr descriptor, int idleSeconds, int intervalSeconds, int probes);
// Bytes the system took at once (0 when it has no room now), or -1 when the
// connection has failed.
qint64 sendDirect(qintptr descriptor, const char *data, qint64 size);
} // namespace socketio

#endif // SOCKETIO_H
