#ifndef STATION_H
#define STATION_H

#include "adapter/adaptersearch.h"
#include "server/protocol.h"
#include "server/transferreport.h"

#include <QObject>
#include <QSharedPointer>
#include <QStringList>

#include <functional>

class FlashImage;
class FlashSession;
class NetworkAdapters;

// The flashing station: a bench or a line that flashes devices without
// clicks, several at once where asked. It checks the adapters, loads the image
// once, serves it to every device that comes until it has flashed as many as
// asked or the operator stops it, and ends with the record's last attempt.
// It shows nothing itself: its terminal lines, its JSON lines and its window
// listen to it and to its session.
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
        quint16 port = protocol::kPort;
        int watchPeriodMsec = 500;
        int pauseAfter = 0; // failed units in a row that pause a fixture; 0: never
        QString station; // its name in the record
        QString databaseUrl; // the line's database; empty: none
        // How often the operator has asked to stop so far: one more during the
        // last wait for the record ends it.
        std::function<int()> stopRequests = [] { return 0; };
    };

    Station(const Options &options, NetworkAdapters *adapters, QObject *parent = nullptr);
    ~Station() override;

    const Options &options() const { return m_options; }
    // Checks the adapters, loads the image and starts listening: serving(),
    // or failed(). False where it cannot serve (failed() has said why).
    bool start();
    quint16 serverPort() const;
    FlashSession *session() const { return m_session; }
    QSharedPointer<FlashImage> image() const { return m_image; }
    // Ends every flash in progress (each recorded), then concludes.
    void stop();
    // After finished(): the record's rows not written, and why.
    int unwritten() const { return m_unwritten; }
    // After finished(): the rows that have not reached the line's database
    // (they wait in the local record for the next start).
    int databaseWaiting() const { return m_databaseWaiting; }
    QString unwrittenReason() const { return m_unwrittenReason; }

signals:
    // For the operator: what the station found (said), what it warns of.
    void said(const QString &text);
    void warned(const QString &text);
    // It cannot serve: why, in a sentence.
    void failed(const QString &error);
    void serving(quint16 port);
    // The summary is due: every flash is reported, the record has had its last attempt.
    void concluded();
    // The station is done. status: the program's exit status.
    void finished(int status);

private:
    bool checkAdapters();
    void concludeWhenReported();
    void conclude();

    const Options m_options;
    AdapterSearch m_adapterSearch;
    FlashSession *m_session = nullptr;
    QSharedPointer<FlashImage> m_image;
    bool m_serving = false;
    bool m_stopping = false;
    bool m_concluded = false;
    int m_unwritten = 0;
    int m_databaseWaiting = 0;
    QString m_unwrittenReason;
};

#endif // STATION_H
