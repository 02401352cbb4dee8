#ifndef TCPSERVER_H
#define TCPSERVER_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;
class QTimer;
class ServerInterface;

// Serves the firmware image to the device on port 10013 and follows the
// transfer in the window. The window resets the transfer counters after each
// hand-off, so the state is public.
class TcpServer : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 kPort = 10013;
    static constexpr int kBlockSize = 1024;
    static constexpr int kWatchPeriodMsec = 500;

    explicit TcpServer(ServerInterface *window);
    ~TcpServer() override;

    void startListen();

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
    char *m_sendPos;
    ServerInterface *m_window;
    double m_percentStep;
    double m_percent;
    int m_totalBlocks;
    QTimer *m_watchTimer;
    QString m_requestText;
    int m_lastSentBlocks;
};

#endif // TCPSERVER_H
