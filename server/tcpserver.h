#ifndef TCPSERVER_H
#define TCPSERVER_H

#include "server/protocol.h"
#include "server/transferreport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;
class QTimer;

// Serves the firmware image to the device: listens on port 10013, keeps the
// image handed over, answers the device's requests ("updata" for the length,
// "ok" for each 1024-byte block) and watches for a transfer that stalls. It
// knows no window: it tells whoever listens what happens through its signals.
class TcpServer : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        quint16 port = protocol::kPort; // 0: any free port (tests)
        // How long the device may take to ask for the next block, or to ask
        // for anything once it has the length, before the transfer counts as
        // stalled.
        int watchPeriodMsec = 500;
        // What one connection may cost, whatever a client sends: one read takes
        // at most this many bytes, a request is echoed with at most this many
        // characters, and a client that asks without reading is not answered
        // while this much is still unsent. The device's requests are a few
        // bytes and it reads every answer, so none of this touches a flash.
        qint64 maxReadBytes = 64 * 1024;
        int maxEchoChars = 64;
        qint64 maxUnsentBytes = 1024 * 1024;
    };

    explicit TcpServer(const Options &options, QObject *parent = nullptr);
    explicit TcpServer(QObject *parent = nullptr);
    ~TcpServer() override;

    // Listens on every address, or tries again; false (and listenFailed())
    // when the port is taken.
    bool startListen();
    bool isListening() const;
    quint16 serverPort() const;
    // A device has asked for the length of the image held now (or has been
    // sent a block) and has not yet closed its connection: a new image or a
    // newcomer would corrupt its flash.
    bool transferRunning() const;
    // Ends a running transfer as Stopped: its connection is closed, so the
    // device starts over rather than keep half an image.
    void stopTransfer();

signals:
    // A device asked for the image before one was handed over. Its connection
    // is no longer served.
    void hintSig();
    // A device connected; its address as the operator reads it.
    void deviceConnected(const QString &address);
    // The device's connection ended, or is no longer served.
    void deviceDisconnected();
    // A second device connected while one is being flashed; it was closed.
    void deviceTurnedAway(const QString &address);
    // A request arrived while an image is held, cut to its first characters.
    void requestEchoed(const QString &request);
    // Block number index (counted from 0) went out, as the device received it.
    void blockSent(int index, const QByteArray &block);
    // The progress in per cent, each time it changes.
    void progress(int percent);
    // A transfer, or a refusal, ended.
    void transferEnded(const TransferReport &report);
    void listenFailed(const QString &error);

public slots:
    // Takes over an image; a transfer under way with another one is ended.
    void slotRecive(QByteArray buf);
    // One tick of the transfer watch.
    void slotJudgeDisconnect();

private:
    void newClientConnect();
    void readClientData();
    void clientDisconnected();
    void sendFileSize();
    void sendFileBlock();

    bool fromDeviceNetwork(const QTcpSocket *socket) const;
    void refuse();
    void restartTransfer();
    void beginTransfer();
    void showProgress(int percent);
    bool answersPending() const;
    void stall();
    // Ends the current connection's transfer from the server's side: the
    // connection is closed, so the device starts over and is never served
    // from another image or position.
    void endConnection(TransferReport::Ending ending);
    void dropConnection(QTcpSocket *socket);
    TransferReport reportOf(TransferReport::Ending ending) const;

    const Options m_options;
    QTcpServer *m_server;
    QTcpSocket *m_socket = nullptr;
    bool m_isDownloading = false;
    QByteArray m_fileData;
    bool m_hasFile = false;
    int m_blockIndex = 0;
    int m_sentBlocks = 0;
    // Points into the image, which is shared with nobody who writes to it;
    // nothing is written through it.
    const char *m_sendPos = nullptr;
    double m_percentStep = 0;
    double m_percent = 0;
    int m_totalBlocks = 0;
    QTimer *m_watchTimer;
    QString m_requestText = QStringLiteral("start");
    int m_lastSentBlocks = 0;

    // What the current connection has done: sent a request at all, and been
    // told the length.
    bool m_connectionAsked = false;
    bool m_lengthSent = false;
    int m_shownPercent = 0;
    QElapsedTimer m_sinceLastBlock;
    QElapsedTimer m_sinceValidRequest;
    // The transfer under way, for its report.
    bool m_transferBegun = false;
    TransferReport::Ending m_ending = TransferReport::DeviceClosed;
    QDateTime m_transferStarted;
    QElapsedTimer m_transferClock;
    QString m_deviceMac;
    QHostAddress m_peer;
    QHostAddress m_local;
};

#endif // TCPSERVER_H
