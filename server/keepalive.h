#ifndef KEEPALIVE_H
#define KEEPALIVE_H

class QAbstractSocket;

// Has the system probe an idle connection every few seconds, so that a peer
// that vanished without closing (a device switched off mid-flash, a pulled
// cable) is found in seconds rather than the system's two hours.
void enableKeepAlive(QAbstractSocket *socket);

#endif // KEEPALIVE_H
