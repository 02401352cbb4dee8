#ifndef FIXTUREMODEL_H
#define FIXTUREMODEL_H

#include "server/transferreport.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// The line's fixtures and their places, a row per place, as a station shows
// them: a fixture is an adapter (one listener each) or, on a switch, where no
// cable can be told from another, the whole station; each has as many places
// as devices may be flashed on it at once. A place shows its state (waiting,
// flashing, complete, failed, paused), the device on it and the unit's serial,
// and keeps its last result until the next device on it begins.
//
// It also holds the line's rules for units and fixtures: a serial scanned for
// a place belongs to the next flash that begins there; a fixture on which
// units fail in a row, each a different one, is paused; and the session's
// counts, first-pass yield among them.
class FixtureModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum class State { Waiting, Flashing, Complete, Failed, Paused };
    Q_ENUM(State)
    enum Role {
        NameRole = Qt::UserRole + 1, // "Ethernet", "Ethernet, place 2", "Place 3"
        FixtureRole, // the adapter; empty on a switch
        StateRole, // State
        PercentRole,
        AddressRole, // of the device on it, or that was last
        MacRole,
        SerialRole, // scanned for the next flash, or the one in progress
        SecondsRole, // of the last flash; negative before the first
        ReasonRole, // why it failed, or why its fixture is paused
        CompleteRole, // the fixture's counts
        FailedRole,
    };

    struct Options
    {
        QStringList adapters; // the fixtures; none: the station is one
        int devices = 1; // places on each fixture
        int pauseAfter = 0; // failed units in a row that pause a fixture; 0: never
        QString stoppedResult;
    };

    // What a scan of a serial came to.
    enum class Scan {
        Taken,
        NotASerial, // not 1-64 printable characters
        AlreadyComplete, // this unit was flashed whole this session
        Flashing, // a flash is in progress on that place
    };
    Q_ENUM(Scan)

    struct Counts
    {
        int flashed = 0; // flashes that began
        int complete = 0;
        int failed = 0;
        int units = 0; // by MAC where known, else each flash one
        int firstPass = 0; // units complete on their first attempt
        double firstPassYield() const { return units > 0 ? double(firstPass) / units : 0; }
    };

    explicit FixtureModel(const Options &options, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // What the line says, in the order it says it.
    void connected(const DeviceConnection &device);
    void left(const DeviceConnection &device);
    void began(const DeviceConnection &device);
    void progressed(const DeviceConnection &device, int percent);
    // A transfer ended: its report gets the serial scanned for it, and the
    // rules are applied (fixturePaused() where it pauses one).
    void ended(TransferReport *report);

    Scan scan(int place, const QString &serial);
    // The serial a place holds for its next flash, or its flash in progress.
    QString serialOf(int place) const;
    void resume(const QString &fixture);
    bool isPaused(const QString &fixture) const { return m_paused.contains(fixture); }
    QStringList pausedFixtures() const;
    QStringList fixtures() const { return m_fixtures; }
    // A place's fixture: its adapter, empty on a switch.
    QString fixtureOfPlace(int place) const;
    Counts counts() const { return m_counts; }
    Counts countsOf(const QString &fixture) const { return m_fixtureCounts.value(fixture); }

signals:
    void fixturePaused(const QString &fixture, const QString &reason);
    void fixtureResumed(const QString &fixture);
    void countsChanged();

private:
    struct Place
    {
        QString fixture;
        QString name;
        State state = State::Waiting;
        int connection = 0; // the device on it now; 0: none
        int percent = 0;
        QString address;
        QString mac;
        QString serial; // for the next flash, then the one in progress
        double seconds = -1;
        QString reason;
    };
    // A unit's story this session.
    struct Unit
    {
        bool firstComplete = false;
        QString lastFailedOn; // the fixture of its last flash, where that failed
        bool lastFailed = false;
    };

    int placeOf(int connection) const;
    void changed(int place);
    bool counts(TransferReport::Ending ending) const;
    void applyPauseRule(const QString &fixture, const TransferReport &report, Place *place);
    void setFixtureState(const QString &fixture, State state, const QString &reason);

    const Options m_options;
    QStringList m_fixtures;
    QList<Place> m_places;
    QSet<QString> m_paused;
    QHash<QString, QStringList> m_streaks; // by fixture: the units failed in a row (empty: unknown)
    QHash<QString, Unit> m_units; // by MAC
    QSet<QString> m_completeSerials;
    Counts m_counts;
    QHash<QString, Counts> m_fixtureCounts;
};

#endif // FIXTUREMODEL_H
