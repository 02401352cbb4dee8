#include "session/fixturemodel.h"

namespace {
const int kLongestSerial = 64;
} // namespace

FixtureModel::FixtureModel(const Options &options, QObject *parent)
    : QAbstractListModel(parent)
    , m_options(options)
    , m_fixtures(options.adapters.isEmpty() ? QStringList(QString()) : options.adapters)
{
    for (const QString &fixture : qAsConst(m_fixtures)) {
        for (int i = 1; i <= qMax(1, options.devices); ++i) {
            Place place;
            place.fixture = fixture;
            if (fixture.isEmpty())
                place.name = QStringLiteral("Place %1").arg(i);
            else
                place.name = options.devices > 1 ? QStringLiteral("%1, place %2").arg(fixture).arg(i) : fixture;
            m_places.append(place);
        }
    }
}

int FixtureModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_places.size());
}

QVariant FixtureModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_places.size())
        return QVariant();
    const Place &place = m_places.at(index.row());
    const Counts counts = m_fixtureCounts.value(place.fixture);
    switch (role) {
    case Qt::DisplayRole:
    case NameRole: return place.name;
    case FixtureRole: return place.fixture;
    case StateRole: return QVariant::fromValue(place.state);
    case PercentRole: return place.percent;
    case AddressRole: return place.address;
    case MacRole: return place.mac;
    case SerialRole: return place.serial;
    case SecondsRole: return place.seconds;
    case ReasonRole: return place.reason;
    case CompleteRole: return counts.complete;
    case FailedRole: return counts.failed;
    }
    return QVariant();
}

QHash<int, QByteArray> FixtureModel::roleNames() const
{
    return {{NameRole, "name"},       {FixtureRole, "fixture"},   {StateRole, "state"},   {PercentRole, "percent"},
            {AddressRole, "address"}, {MacRole, "mac"},           {SerialRole, "serial"}, {SecondsRole, "seconds"},
            {ReasonRole, "reason"},   {CompleteRole, "complete"}, {FailedRole, "failed"}};
}

QString FixtureModel::fixtureOfPlace(int place) const
{
    return m_places.value(place).fixture;
}

int FixtureModel::placeOf(int connection) const
{
    for (int i = 0; i < m_places.size(); ++i) {
        if (connection != 0 && m_places.at(i).connection == connection)
            return i;
    }
    return -1;
}

void FixtureModel::changed(int place)
{
    emit dataChanged(index(place), index(place));
}

void FixtureModel::connected(const DeviceConnection &device)
{
    // The first free place of its fixture; on a switch, of the station.
    const QString fixture = m_options.adapters.isEmpty() ? QString() : device.adapter;
    for (Place &place : m_places) {
        if (place.fixture == fixture && place.connection == 0) {
            place.connection = device.number;
            return;
        }
    }
}

void FixtureModel::left(const DeviceConnection &device)
{
    const int at = placeOf(device.number);
    if (at >= 0)
        m_places[at].connection = 0;
}

void FixtureModel::began(const DeviceConnection &device)
{
    const int at = placeOf(device.number);
    if (at < 0)
        return;
    Place &place = m_places[at];
    if (place.state != State::Paused) {
        place.state = State::Flashing;
        place.reason.clear();
    }
    place.percent = 0;
    place.address = device.address;
    place.mac.clear();
    changed(at);
}

void FixtureModel::progressed(const DeviceConnection &device, int percent)
{
    const int at = placeOf(device.number);
    if (at < 0 || m_places.at(at).percent == percent)
        return;
    m_places[at].percent = percent;
    changed(at);
}

bool FixtureModel::counts(TransferReport::Ending ending) const
{
    return ending != TransferReport::Refused && ending != TransferReport::Paused;
}

void FixtureModel::ended(TransferReport *report)
{
    const int at = placeOf(report->connection.number);
    if (!counts(report->ending))
        return;
    const QString fixture =
            at >= 0 ? m_places.at(at).fixture : (m_options.adapters.isEmpty() ? QString() : report->connection.adapter);
    const bool complete = report->ending == TransferReport::Complete;
    // Counted by the connections it stands for: a crowd of empty ones is many flashes.
    for (Counts *counts : {&m_counts, &m_fixtureCounts[fixture]}) {
        counts->flashed += report->connections;
        counts->complete += complete ? 1 : 0;
        counts->failed += complete ? 0 : report->connections;
    }
    // A unit is its MAC where known; where not, each flash is one of its own.
    const QString unit = report->deviceMac.isEmpty() ? report->flashId.toString() : report->deviceMac;
    if (!m_units.contains(unit)) {
        m_units[unit].firstComplete = complete;
        ++m_counts.units;
        m_counts.firstPass += complete ? 1 : 0;
    }
    Place scratch;
    Place &place = at >= 0 ? m_places[at] : scratch;
    report->serial = place.serial;
    if (complete && !place.serial.isEmpty())
        m_completeSerials.insert(place.serial);
    place.serial.clear();
    place.percent = complete ? 100 : place.percent;
    place.address = report->connection.address;
    place.mac = report->deviceMac;
    place.seconds = report->seconds();
    if (place.state != State::Paused) {
        place.state = complete ? State::Complete : State::Failed;
        place.reason = complete ? QString() : resultText(*report, m_options.stoppedResult);
    }
    applyPauseRule(fixture, *report, &place);
    if (at >= 0)
        changed(at);
    emit countsChanged();
}

void FixtureModel::applyPauseRule(const QString &fixture, const TransferReport &report, Place *place)
{
    const bool complete = report.ending == TransferReport::Complete;
    // Only a unit's own failing counts: not the program stopping it, nor a new image.
    const bool failed = report.ending == TransferReport::DeviceClosed || report.ending == TransferReport::Stalled;
    Unit &unit = m_units[report.deviceMac.isEmpty() ? report.flashId.toString() : report.deviceMac];
    const bool failedElsewhere = failed && !report.deviceMac.isEmpty() && unit.lastFailed &&
            !unit.lastFailedOn.isEmpty() && unit.lastFailedOn != fixture;
    if (failedElsewhere && place->state != State::Paused) {
        // Failing on two fixtures in a row is the unit's fault, not this fixture's.
        place->reason = QStringLiteral("this unit also failed on %1").arg(unit.lastFailedOn);
    }
    unit.lastFailed = failed;
    unit.lastFailedOn = failed ? fixture : QString();
    if (m_options.pauseAfter <= 0 || isPaused(fixture))
        return;
    QStringList &streak = m_streaks[fixture];
    if (complete) {
        streak.clear();
        return;
    }
    if (!failed || failedElsewhere)
        return;
    streak.append(report.deviceMac);
    if (streak.size() < m_options.pauseAfter)
        return;
    // The last ones are as many different units (an unknown MAC is one of its own).
    QSet<QString> units;
    int unknown = 0;
    for (const QString &mac : streak.mid(streak.size() - m_options.pauseAfter)) {
        if (mac.isEmpty())
            ++unknown;
        else
            units.insert(mac);
    }
    if (int(units.size()) + unknown < m_options.pauseAfter)
        return;
    const QString reason = QStringLiteral("%1 different units failed in a row: check the cable and the fixture")
                                   .arg(m_options.pauseAfter);
    m_paused.insert(fixture);
    streak.clear();
    place->state = State::Paused;
    place->reason = reason;
    setFixtureState(fixture, State::Paused, reason);
    emit fixturePaused(fixture, reason);
}

void FixtureModel::setFixtureState(const QString &fixture, State state, const QString &reason)
{
    for (int i = 0; i < m_places.size(); ++i) {
        Place &place = m_places[i];
        if (place.fixture != fixture)
            continue;
        place.state = state;
        place.reason = reason;
        changed(i);
    }
}

void FixtureModel::resume(const QString &fixture)
{
    if (!m_paused.remove(fixture))
        return;
    m_streaks.remove(fixture);
    setFixtureState(fixture, State::Waiting, QString());
    emit fixtureResumed(fixture);
}

QStringList FixtureModel::pausedFixtures() const
{
    QStringList paused;
    for (const QString &fixture : m_fixtures) {
        if (m_paused.contains(fixture))
            paused << fixture;
    }
    return paused;
}

FixtureModel::Scan FixtureModel::scan(int place, const QString &serial)
{
    if (place < 0 || place >= m_places.size())
        return Scan::NotASerial;
    bool printable = !serial.isEmpty() && serial.size() <= kLongestSerial;
    for (const QChar c : serial)
        printable = printable && c.isPrint() && c != QChar(QChar::ReplacementCharacter);
    if (!printable)
        return Scan::NotASerial;
    if (m_places.at(place).state == State::Flashing)
        return Scan::Flashing;
    if (m_completeSerials.contains(serial))
        return Scan::AlreadyComplete;
    m_places[place].serial = serial;
    changed(place);
    return Scan::Taken;
}

QString FixtureModel::serialOf(int place) const
{
    return m_places.value(place).serial;
}
