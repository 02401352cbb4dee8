#ifndef STATIONTERMINAL_H
#define STATIONTERMINAL_H

#include "server/transferreport.h"

#include <QMap>
#include <QObject>
#include <QString>

class OncePerSecond;
class Station;
class StationOutput;

// What the station shows in a terminal, a log file or a pipe: its lines, or
// with json JSON objects only on standard output, one a line, for a line
// controller. On a terminal a live line per device being flashed, redrawn in
// place; elsewhere a plain line every 10 %. It only listens.
class StationTerminal : public QObject
{
    Q_OBJECT

public:
    StationTerminal(Station *station, StationOutput *out, StationOutput *err, bool json, QObject *parent = nullptr);

private:
    struct LiveDevice
    {
        QString adapter;
        QString device;
        int percent = 0;
    };

    void showStart(quint16 port);
    void showConnected(const DeviceConnection &device);
    void showProgress(const DeviceConnection &device, int percent);
    void showEnded(const TransferReport &report);
    void showKeptOut(const TransferReport &report);
    void showAdapter(const QString &adapter, bool back);
    void showPaused(const QString &fixture, const QString &reason);
    void showLive();
    void sayCrowd(const QString &event, int count, const DeviceConnection &device, const QString &what,
                  const QString &why);
    void showSummary();
    // A line for the operator: standard output, or where JSON goes there, standard error.
    void say(const QString &text);

    Station *m_station;
    StationOutput *m_out;
    StationOutput *m_err;
    const bool m_json;
    QMap<int, LiveDevice> m_live; // by connection number
    OncePerSecond *m_turnedAway;
    OncePerSecond *m_dropped;
    bool m_digestSaid = false;
};

#endif // STATIONTERMINAL_H
