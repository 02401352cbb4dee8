#ifndef TCPSERVER_H
#define TCPSERVER_H

#include "server/protocol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpSocket>

class QTcpServer;
class QTimer;
class ServerInterface;

// Serves the firmware image to the device on port 10013 and follows the
// transfer in the window. The window resets the transfer counters after each
// hand-off, so the state is public.
class TcpServer : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 kPort = protocol::kPort;
    static constexpr int kBlockSize = protocol::kBlockSize;
    // How long the device may take to ask for the next block before the
    // transfer counts as stalled. Tests shorten it.
    static int watchPeriodMsec;
    // What one connection may cost, whatever a client sends: one read takes at
    // most this many bytes, a request is echoed with at most this many
    // characters, and a client that asks without reading is not answered
    // while this much is still unsent. The device's requests are a few bytes
    // and it reads every answer, so none of this touches a flash.
    static constexpr qint64 kMaxReadBytes = 64 * 1024;
    static constexpr int kMaxEchoChars = 64;
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;

    explicit TcpServer(ServerInterface *window);
    ~TcpServer() override;

    void startListen();
    bool isListening() const;
    // A device has asked for the length of the image held now and has not
    // yet closed its connection: a new image or a newcomer would corrupt it.
    bool transferRunning() const;

    // Connection handling and the download protocol.
    void newClientConnect();
    void readClientData();
    void clientDisconnected();
    void sendFileSize();
    void sendFileBlock();

signals:
    void hintSig();

public slots:
    void slotRecive(QByteArray buf);
    void slotJudgeDisconnect();

public:
    QTcpServer *m_server;
    QTcpSocket *m_socket;
    bool m_isDownloading;
    QByteArray m_fileData;
    bool m_hasFile;
    int m_blockIndex;
    int m_sentBlocks;
    // Points into the image, which is shared with nobody who writes to it;
    // nothing is written through it.
    const char *m_sendPos;
    ServerInterface *m_window;
    double m_percentStep;
    double m_percent;
    int m_totalBlocks;
    QTimer *m_watchTimer;
    QString m_requestText;
    int m_lastSentBlocks;

private:
    // A box opened from a handler runs a nested event loop, inside which a new
    // connection may replace the one whose handler is still on the stack. Such
    // connections are parked and freed only once no handler is open.
    class HandlerScope
    {
    public:
        explicit HandlerScope(TcpServer *server);
        ~HandlerScope();

    private:
        TcpServer *m_server;
    };
    void dropConnection(QTcpSocket *socket);
    // Ends the current connection's transfer from the server's side: the
    // connection is closed, so the device starts over and is never served
    // from another image or position.
    void endConnection();
    void restartTransfer();
    bool answersPending() const;
    int m_openHandlers = 0;
    QList<QPointer<QTcpSocket>> m_parkedSockets;
    // What the current connection has done: sent a request at all, and asked
    // for the length (from then on its transfer runs).
    bool m_connectionAsked = false;
    bool m_lengthSent = false;
    QElapsedTimer m_sinceLastBlock;
};

#endif // TCPSERVER_H
