#ifndef STATION_H
#define STATION_H

#include "adapter/adaptersearch.h"
#include "server/transferreport.h"

#include <QObject>
#include <QSharedPointer>
#include <QTextStream>

class FlashImage;
class FlashLog;
class NetworkAdapters;
class TcpServer;

// The flashing station: a bench or a line that flashes one device after
// another without clicks. It checks the wired adapter, loads the image once,
// and serves it to every device that comes, one line per flash, until it has
// flashed as many as asked or the operator stops it.
class Station : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString imagePath;
        int count = 0; // complete flashes to stop after; 0: never
        QString logPath;
    };

    Station(const Options &options, NetworkAdapters *adapters, QTextStream &out, QTextStream &err);
    ~Station() override;

    // Checks the adapter, loads the image and listens; false when it cannot
    // serve (it has said why).
    bool start();
    // Ends the flash in progress, prints the summary and ends the program.
    void stop();

private:
    void showProgress(int percent);
    void showEnded(const TransferReport &report);
    void finish();

    const Options m_options;
    AdapterSearch m_adapterSearch;
    QTextStream &m_out;
    QTextStream &m_err;
    const bool m_terminal;
    TcpServer *m_server = nullptr;
    FlashLog *m_log = nullptr;
    QSharedPointer<FlashImage> m_image;
    QString m_device;
    int m_shownPercent = -1;
    int m_began = 0;
    int m_complete = 0;
    bool m_finished = false;
};

#endif // STATION_H
