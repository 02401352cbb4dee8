#ifndef SOCKETIO_H
#define SOCKETIO_H

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
// takes not at once goes to the socket's buffer, behind it.
void writeNow(QAbstractSocket *socket, const char *data, qint64 size);

#endif // SOCKETIO_H
