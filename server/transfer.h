#ifndef TRANSFER_H
#define TRANSFER_H

#include "server/transferreport.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QSharedPointer>
#include <QUuid>

class FlashImage;
class QTcpSocket;

// One device's connection and its transfer: the requests it reads, where it
// stands in the image, the progress it shows, its clocks and how it ended.
// The server makes one for each connection it admits and owns it; it learns
// what happens through the signals.
class Transfer : public QObject
{
    Q_OBJECT

public:
    enum class State {
        Connected, // admitted; nothing answered yet
        LengthTold, // told the image's length; no block yet
        Sending, // blocks are asked for, and more remain
        AllSent, // the last block went out
        Ended, // over: reported, or refused and no longer served
    };

    // What one connection may cost, whatever a client sends: one read takes
    // at most maxReadBytes, a request is echoed with at most maxEchoChars
    // characters, and a client that asks without reading is not answered
    // while maxUnsentBytes are still unsent. The device's requests are a few
    // bytes and it reads every answer, so none of this touches a flash.
    struct Limits
    {
        qint64 maxReadBytes = 64 * 1024;
        int maxEchoChars = 64;
        qint64 maxUnsentBytes = 1024 * 1024;
    };

    // Takes over the accepted socket. adapter: the adapter the listener is
    // bound to; empty, it is looked up by the address the device reached.
    Transfer(QTcpSocket *socket, int number, const QString &adapter, const Limits &limits, QObject *parent = nullptr);
    ~Transfer() override;

    State state() const { return m_state; }
    // Told the length or sent a block, and not ended: a new image or a
    // newcomer in its place would corrupt its flash.
    bool isFlashing() const;
    DeviceConnection connection() const;
    // Anything at all came from the device, read or still waiting to be.
    bool hasSentAnything() const;
    // The image it serves, or is offered until it asks.
    QSharedPointer<FlashImage> image() const { return m_image; }

    // Offers the image to a connection that is not being flashed; null: none.
    // generation: which of the images handed over it is.
    void offerImage(const QSharedPointer<FlashImage> &image, int generation);
    // The watch: told the length, blocks left, nothing answered for a whole
    // period and no request waiting to be read (a hung or vanished device, or
    // one that asks without reading or only holds the line).
    bool stalled(qint64 periodMsec) const;
    // Reads a request that the system holds and was never announced, when
    // nothing was answered for a whole period: Wine forgets the notice of
    // a request that a reset follows, and the connection would wait for it
    // for ever.
    void readOverlooked(qint64 periodMsec);
    // Ends the transfer from the server's side (Stalled, Restarted, Stopped):
    // reported, and the connection closed, so that the device starts over and
    // is never served from another image or position.
    void end(TransferReport::Ending ending);
    // Closes a connection that has nothing under way (a newcomer takes its
    // place); there is nothing to report.
    void drop();

signals:
    // A request arrived while an image is offered, cut to its first characters.
    void requestEchoed(const QString &request);
    // It asked for the length before an image was offered; it is no longer served.
    void refused();
    // Its transfer began: told the length, or sent its first block.
    void began();
    void progress(int percent);
    // Block number index (from 0) was written, as the device receives it.
    void blockSent(int index);
    // A transfer that began, or a refusal, ended.
    void transferEnded(const TransferReport &report);
    // The connection is over; the transfer may go.
    void connectionClosed();

private:
    void readClientData();
    void clientDisconnected();
    void sendFileSize();
    void sendFileBlock();

    void refuse();
    void beginTransfer();
    void advanceProgress();
    void showProgress(int percent);
    bool answersPending() const;
    // The one place a transfer ends: reported when it began.
    void finish(TransferReport::Ending ending);
    void close();
    TransferReport reportOf(TransferReport::Ending ending) const;

    QTcpSocket *const m_socket;
    const int m_number;
    QString m_adapter;
    const Limits m_limits;
    // Kept: closing a connection clears its addresses.
    const QHostAddress m_peer;
    const QHostAddress m_local;
    State m_state = State::Connected;
    bool m_heard = false;

    QSharedPointer<FlashImage> m_image;
    int m_generation = 0;
    QByteArray m_bytes; // the image's, shared and never written
    qint64 m_position = 0; // where the next block starts
    double m_percentStep = 0;
    double m_percent = 0;
    int m_shownPercent = 0;
    QElapsedTimer m_sinceAnswer;

    QUuid m_flashId;
    QDateTime m_started;
    QElapsedTimer m_clock;
    QString m_deviceMac;
};

#endif // TRANSFER_H
