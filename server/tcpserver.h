#ifndef TCPSERVER_H
#define TCPSERVER_H

#include "server/protocol.h"
#include "server/transfer.h"
#include "server/transferreport.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

class FlashImage;
class Listener;
class QTcpSocket;
class QTimer;

// Serves the firmware image to the devices: listens on port 10013, keeps the
// image handed over (in memory once, shared by every transfer), admits the
// devices that connect, one Transfer each, and watches for transfers that
// stall. It knows no window: it tells whoever listens what happens through its
// signals, which carry values, so that it may serve on a thread of its own.
class TcpServer : public QObject
{
    Q_OBJECT

public:
    enum class ImageUse {
        OneFlash, // a flash that began uses the image up: Download again for the next
        EveryDevice, // every device that comes is served the same image
    };

    struct Options
    {
        quint16 port = protocol::kPort; // 0: any free port (tests)
        // Listen on this adapter alone (Linux); empty: on every address.
        QString adapter;
        // Devices at once. A newcomer when every place is taken replaces the
        // oldest connection that has sent nothing (or was refused), or is
        // turned away.
        int devices = 1;
        ImageUse imageUse = ImageUse::OneFlash;
        // How long a device told the length may go without an answer (it
        // asks for nothing, or for nothing it reads) before its transfer
        // counts as stalled.
        int watchPeriodMsec = 500;
        // Whoever shows blocks and requests hears of them at most this often:
        // a display shows a frame every 16 ms, and a block never waits for it.
        int frameMsec = 16;
        Transfer::Limits limits;
        // Connections are numbered first, first + step, ...: servers that
        // share a line number theirs apart.
        int firstNumber = 1;
        int numberStep = 1;
    };

    explicit TcpServer(const Options &options, QObject *parent = nullptr);
    ~TcpServer() override;

    // Listens, or tries again: listening(), or false and listenFailed().
    bool startListen();
    // Takes no device more: the listener closes, and connections that are not
    // being flashed are closed; those being flashed go on. listenerClosed()
    // follows every report of what happened before.
    void closeListener();
    QString errorString() const;
    bool isListening() const;
    quint16 serverPort() const;
    QString adapter() const { return m_options.adapter; }
    QSharedPointer<FlashImage> image() const { return m_image; }
    // Devices connected now, being flashed or not.
    int deviceCount() const { return int(m_transfers.size()); }
    // A device is being flashed: told the length or sent blocks, not ended.
    bool transferRunning() const;
    // The numbers of the connections being flashed.
    QList<int> flashingConnections() const;
    // While paused, every device that comes is closed at once (its fixture
    // fails unit after unit), and those that have not asked yet are closed;
    // flashes in progress go on.
    void setPaused(bool paused);
    // Ends every transfer under way as Stopped: its connection is closed, so
    // the device starts over rather than keep half an image. transfersStopped()
    // follows their reports.
    void stopTransfer();

signals:
    // A device asked for the image before one was handed over. Its
    // connection is no longer served.
    void hintSig();
    void deviceConnected(const DeviceConnection &device);
    // Its connection closed, whatever it did: it holds no place any more.
    void deviceLeft(const DeviceConnection &device);
    // Its transfer began: told the length or sent a block.
    void transferBegan(const DeviceConnection &device);
    // A device came while every place was taken by devices that had asked;
    // it was closed.
    void deviceTurnedAway(const DeviceConnection &device);
    // A connection that had sent nothing was closed to make room for a newcomer.
    void deviceDropped(const DeviceConnection &device);
    // A device came while the server is paused; it was closed at once.
    void deviceKeptOut(const DeviceConnection &device);
    // Taking devices paused for want of file descriptors, and goes on as soon
    // as one is free: why, in the system's words.
    void acceptPaused(const QString &reason);
    // Requests that arrived while an image was offered, each cut to its first
    // characters; gathered, at most once a display frame.
    void requestsEchoed(const DeviceConnection &device, const QStringList &requests);
    // The latest block written to the device, at most once a display frame,
    // and always before its transfer's end is reported: block number index
    // (from 0), as the device received it.
    void blockSent(const DeviceConnection &device, int index, const QByteArray &block);
    // The progress in per cent, each time it changes.
    void progress(const DeviceConnection &device, int percent);
    // A transfer, or a refusal, ended.
    void transferEnded(const TransferReport &report);
    void listenFailed(const QString &error);
    void listening(quint16 port);
    void listenerClosed();
    void transfersStopped();

public slots:
    // Takes over an image (null: none): every transfer under way with
    // another one is ended as Restarted first. generation: which of the
    // images handed over it is (DeviceConnection::generation).
    void slotRecive(const QSharedPointer<FlashImage> &image, int generation = 0);
    // One tick of the transfer watch.
    void slotJudgeDisconnect();

private:
    // What a transfer did since whoever shows it last heard.
    struct Unshown
    {
        int block = -1;
        QStringList requests;
    };

    void newClientConnect(qintptr descriptor);
    void admit(QTcpSocket *socket);
    // The oldest connection that may make room for a newcomer, or none.
    Transfer *roomMaker() const;
    bool fromDeviceNetwork(const QTcpSocket *socket) const;
    void reportEnded(Transfer *transfer, const TransferReport &report);
    void forget(Transfer *transfer);
    void showUnshown();
    void showUnshownOf(Transfer *transfer);
    void offerImage(const QSharedPointer<FlashImage> &image);
    int m_generation = 0;
    bool m_paused = false;

    const Options m_options;
    Listener *m_server;
    QTimer *m_watchTimer;
    QTimer *m_frameTimer;
    QSharedPointer<FlashImage> m_image;
    // Oldest first.
    QList<Transfer *> m_transfers;
    QHash<Transfer *, Unshown> m_unshown;
    int m_nextNumber;
    QString m_error; // why the last attempt to listen failed
};

#endif // TCPSERVER_H
