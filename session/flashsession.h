#ifndef FLASHSESSION_H
#define FLASHSESSION_H

#include "record/recordwriter.h"
#include "server/burstfilter.h"
#include "server/flashline.h"
#include "server/transferreport.h"
#include "session/fixturemodel.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

#include <functional>

class DatabaseSender;
class FlashImage;
class FlashRecord;

// One session of flashing, whatever shows it: the line that serves (and its
// servers' thread), the image it serves, the record of every flash, the
// fixtures and their rules. The TcpServer window, the terminal station, its
// JSON lines and the station window only listen to it and show it; none of
// them wires a line, loads an image or ends a session its own way. It knows
// no window.
class FlashSession : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        TcpServer::Options server;
        QStringList adapters; // one listener on each (Linux); none: on every address
        QString recordPath; // empty: no record
        RecordWriter::Limits recordLimits;
        QString stoppedResult; // how the record words a flash the program stopped
        QString station; // the station's name, in every row
        int pauseAfter = 0; // failed units in a row that pause a fixture; 0: never
        QString databaseUrl; // the line's database; empty: none
    };

    explicit FlashSession(const Options &options, QObject *parent = nullptr);
    ~FlashSession() override;

    const Options &options() const { return m_options; }
    // Null where no record is kept.
    FlashRecord *record() const { return m_record; }
    // Null where no database is named, or it cannot be used (databaseProblem() says why).
    DatabaseSender *database() const { return m_database; }
    QString databaseProblem() const { return m_databaseProblem; }
    FixtureModel *fixtures() const { return m_fixtures; }

    // Reads the image at path and serves it from now on (an image that could
    // not be read is served as the empty one it is); every flash in progress
    // with another image ends first.
    QSharedPointer<FlashImage> loadImage(const QString &path);
    void serve(const QSharedPointer<FlashImage> &image);
    QSharedPointer<FlashImage> image() const { return m_line->image(); }

    // listening() once every listener listens, or listenFailed().
    void startListen();
    bool isListening() const { return m_line->isListening(); }
    quint16 serverPort() const { return m_line->serverPort(); }
    bool transferRunning() const { return m_line->transferRunning(); }
    // Takes no device more; flashes in progress finish: drained() once none is left.
    void closeListener();
    // Takes no device more and ends every flash in progress (each recorded):
    // stopped() once their reports are in.
    void stop();
    // The end: what crowds counted so far is reported, then the record's
    // last attempt (FlashRecord::finish()): how many rows are not written.
    // The line's database gets two seconds more at most: what has not
    // reached it then (*waiting) waits in the record for the next start.
    int finishRecord(QDeadlineTimer deadline, const std::function<bool()> &interrupted, QString *reason,
                     int *waiting = nullptr);

    // A scanned serial for the next flash on that place.
    FixtureModel::Scan scan(int place, const QString &serial) { return m_fixtures->scan(place, serial); }
    void resume(const QString &fixture);

signals:
    void hintSig();
    void listening(quint16 port);
    void listenFailed(const QString &error);
    void deviceConnected(const DeviceConnection &device);
    void deviceTurnedAway(const DeviceConnection &device);
    void deviceDropped(const DeviceConnection &device);
    void acceptPaused(const QString &reason);
    void transferBegan(const DeviceConnection &device);
    void requestsEchoed(const DeviceConnection &device, const QStringList &requests);
    void blockSent(const DeviceConnection &device, int index, const QByteArray &block);
    void progress(const DeviceConnection &device, int percent);
    // A transfer, or a refusal, ended: its report as recorded (with the
    // station's name and the unit's serial).
    void transferEnded(const TransferReport &report);
    // Devices that came to a paused fixture and were closed at once, counted
    // once a second, as recorded.
    void keptOut(const TransferReport &report);
    void adapterGone(const QString &adapter);
    void adapterBack(const QString &adapter);
    void fixturePaused(const QString &fixture, const QString &reason);
    void fixtureResumed(const QString &fixture);
    void drained();
    void stopped();

private:
    void ended(TransferReport report);
    void keepOut(const DeviceConnection &device);
    void drainWhenIdle();

    const Options m_options;
    FlashLine *m_line;
    FlashRecord *m_record = nullptr;
    DatabaseSender *m_database = nullptr;
    QString m_databaseProblem;
    FixtureModel *m_fixtures;
    BurstFilter m_keptOut; // by fixture
    bool m_closed = false; // no device more, and every report before that in
    bool m_drained = false;
};

#endif // FLASHSESSION_H
