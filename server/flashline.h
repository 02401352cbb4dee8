#ifndef FLASHLINE_H
#define FLASHLINE_H

#include "server/burstfilter.h"
#include "server/tcpserver.h"
#include "server/transferreport.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

class FlashImage;
class QThread;

// A flashing line: the servers the devices reach (one on every address, or one
// on each adapter named) and the image they serve, in one place. The servers serve on a thread of their own, so that a
// block never waits for whatever the line's owner does meanwhile (drawing a window, writing to a terminal). The window
// and the station each use one and only listen to it; its signals are the servers', as they happen.
class FlashLine : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        TcpServer::Options server;
        // One server bound to each of these adapters; none: one on every address.
        QStringList adapters;
    };

    explicit FlashLine(const Options &options, QObject *parent = nullptr);
    ~FlashLine() override;

    // Makes every server listen, or try again; false, and why in *error, when
    // one cannot (it has told listenFailed() too).
    bool startListen(QString *error = nullptr);
    // Takes no device more; flashes in progress go on.
    void closeListener();
    bool isListening() const { return m_listening; }
    quint16 serverPort() const { return m_port; }
    // The image handed over last; null before the first.
    QSharedPointer<FlashImage> image() const { return m_image; }
    // A device is being flashed.
    bool transferRunning() const;
    // Ends every flash in progress as Stopped; each is reported.
    void stopTransfer();
    // Reports what a crowd of empty transfers counted so far at once (the
    // program ends).
    void passCounted() { m_bursts.flush(); }

public slots:
    // Serves this image from now on: every flash in progress with another one
    // is ended first (and no longer shown), so that no device mixes two.
    void slotRecive(const QSharedPointer<FlashImage> &image);

signals:
    void hintSig();
    void deviceConnected(const DeviceConnection &device);
    void deviceTurnedAway(const DeviceConnection &device);
    void deviceDropped(const DeviceConnection &device);
    void acceptPaused(const QString &reason);
    void requestsEchoed(const DeviceConnection &device, const QStringList &requests);
    void blockSent(const DeviceConnection &device, int index, const QByteArray &block);
    void progress(const DeviceConnection &device, int percent);
    void transferEnded(const TransferReport &report);
    void listenFailed(const QString &error);

private:
    bool shown(const DeviceConnection &device) const { return !m_unshown.contains(device.number); }

    QThread *m_thread;
    QList<TcpServer *> m_servers; // live on m_thread
    BurstFilter m_bursts;
    QSharedPointer<FlashImage> m_image;
    // Connections ended for a new image: what they still report on the way
    // is no longer shown, only how they ended.
    QSet<int> m_unshown;
    bool m_listening = false;
    quint16 m_port = 0;
};

#endif // FLASHLINE_H
