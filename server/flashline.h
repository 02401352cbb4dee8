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

class AdapterWatch;
class FlashImage;
class QThread;

// A flashing line: the servers the devices reach (one on every address, or one
// on each adapter named) and the image they serve, in one place. The servers
// serve on a thread of their own, so that a block never waits for whatever
// the line's owner does meanwhile (drawing a window, writing to a terminal).
// The threads meet one way only: the owner's calls go to the servers queued,
// and what the servers do comes back as signals, from which the line keeps
// what the owner may ask (listening, a flash in progress); nothing waits for
// the serving thread. An adapter named that goes away and comes back is
// served again.
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

    // Makes every server listen, or try again: listening() once all do, or
    // listenFailed() for the first that cannot.
    void startListen();
    // Takes no device more; flashes in progress go on. listenerClosed()
    // follows once every report of what happened before it is in.
    void closeListener();
    bool isListening() const { return m_listening == m_servers.size(); }
    quint16 serverPort() const { return m_port; }
    // The image handed over last; null before the first.
    QSharedPointer<FlashImage> image() const { return m_image; }
    // A device is being flashed, as the servers last said.
    bool transferRunning() const { return !m_flashing.isEmpty(); }
    // Pauses the fixture behind that adapter (empty: the line on every
    // address), or resumes it: see TcpServer::setPaused().
    void setPaused(const QString &adapter, bool paused);
    // Ends every flash in progress as Stopped; each is reported, and
    // transfersStopped() follows them.
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
    void deviceLeft(const DeviceConnection &device);
    void deviceTurnedAway(const DeviceConnection &device);
    void deviceDropped(const DeviceConnection &device);
    void deviceKeptOut(const DeviceConnection &device);
    void acceptPaused(const QString &reason);
    void transferBegan(const DeviceConnection &device);
    void requestsEchoed(const DeviceConnection &device, const QStringList &requests);
    void blockSent(const DeviceConnection &device, int index, const QByteArray &block);
    void progress(const DeviceConnection &device, int percent);
    void transferEnded(const TransferReport &report);
    void listening(quint16 port);
    void listenFailed(const QString &error);
    void listenerClosed();
    void transfersStopped();
    // An adapter named went away (its fixture is not served), or is back and
    // served again.
    void adapterGone(const QString &adapter);
    void adapterBack(const QString &adapter);

private:
    // One server and what the line knows of it.
    struct Served
    {
        TcpServer *server; // lives on m_thread
        QString adapter;
        int boundTo = 0; // the interface index it listens on; 0: it does not
        bool gone = false;
    };

    bool shown(const DeviceConnection &device) const { return device.generation == m_generation; }
    void checkAdapters();
    void listenOn(Served &served);
    template<typename Call>
    void onServer(TcpServer *server, Call call);

    QThread *m_thread;
    QList<Served> m_served;
    QList<TcpServer *> m_servers;
    BurstFilter m_bursts;
    AdapterWatch *m_watch = nullptr;
    QSharedPointer<FlashImage> m_image;
    int m_generation = 0; // of the image handed over last
    QSet<int> m_flashing; // connections being flashed
    int m_listening = 0; // servers that listen
    int m_closing = 0; // servers yet to say they closed
    int m_stopping = 0; // servers yet to say they stopped
    bool m_failureSaid = false;
    quint16 m_port = 0;
};

#endif // FLASHLINE_H
