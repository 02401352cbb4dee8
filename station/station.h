#ifndef STATION_H
#define STATION_H

#include "adapter/adaptersearch.h"
#include "server/protocol.h"
#include "server/transferreport.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QSharedPointer>
#include <QStringList>
#include <QTimer>

class FlashImage;
class FlashLine;
class FlashRecord;
class NetworkAdapters;
class OncePerSecond;
class StationOutput;

// The flashing station: a bench or a line that flashes devices without
// clicks, several at once where asked. It checks the adapters, loads the image
// once and serves it to every device that comes, a live line per device being
// flashed and one line per flash, until it has flashed as many as asked or the
// operator stops it. It only listens to its flashing line.
class Station : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString imagePath;
        int count = 0; // complete flashes to stop after; 0: never
        QString logPath;
        int devices = 1; // at once, on each adapter
        QStringList adapters; // one listener on each (Linux); none: on every address
        bool json = false; // standard output carries JSON objects only
        quint16 port = protocol::kPort;
        int watchPeriodMsec = 500;
    };

    Station(const Options &options, NetworkAdapters *adapters, StationOutput *out, StationOutput *err,
            QObject *parent = nullptr);
    ~Station() override;

    // Checks the adapters, loads the image and listens; false when it cannot
    // serve (it has said why).
    bool start();
    quint16 serverPort() const;
    // Ends every flash in progress (each recorded), then concludes.
    void stop();

signals:
    // The station is done: the summary is out and the record has had its last
    // attempt. status: the program's exit status.
    void finished(int status);

private:
    struct Tally
    {
        int began = 0;
        int complete = 0;
    };
    struct LiveDevice
    {
        QString adapter;
        QString device;
        int percent = 0;
    };

    bool checkAdapters();
    void showConnected(const DeviceConnection &device);
    void showProgress(const DeviceConnection &device, int percent);
    void showEnded(const TransferReport &report);
    void showLive();
    void sayCrowd(const QString &event, int count, const DeviceConnection &device, const QString &what,
                  const QString &why);
    void finishWhenIdle();
    void conclude();
    void error(const QString &text);

    const Options m_options;
    AdapterSearch m_adapterSearch;
    StationOutput *m_out;
    StationOutput *m_err;
    FlashLine *m_line = nullptr;
    FlashRecord *m_record = nullptr; // null when no record is kept
    QSharedPointer<FlashImage> m_image;
    QMap<int, LiveDevice> m_live; // by connection number
    Tally m_total;
    QMap<QString, Tally> m_byAdapter;
    OncePerSecond *m_turnedAway;
    OncePerSecond *m_dropped;
    bool m_stopping = false;
    bool m_concluded = false;
};

#endif // STATION_H
