#include "station/stationterminal.h"

#include "files/systemname.h"
#include "image/flashimage.h"
#include "record/flashrecord.h"
#include "session/flashsession.h"
#include "station/oncepersecond.h"
#include "station/station.h"
#include "station/stationoutput.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const int kBarWidth = 30;
const QString kStopped = QStringLiteral("station stopped mid-flash");

QString json(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// How a device is named in the station's lines: the adapter it came through,
// where one is known, and its address.
QString deviceName(const QString &adapter, const QString &address)
{
    return adapter.isEmpty() ? address : adapter + QLatin1Char(' ') + address;
}

QString plural(int count, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

} // namespace

StationTerminal::StationTerminal(Station *station, StationOutput *out, StationOutput *err, bool json, QObject *parent)
    : QObject(parent)
    , m_station(station)
    , m_out(out)
    , m_err(err)
    , m_json(json)
{
    // A crowd that comes and goes fast cannot flood the output.
    m_turnedAway = new OncePerSecond(
            [this](int count, const DeviceConnection &last) {
                sayCrowd(QStringLiteral("turned-away"), count, last, QStringLiteral("turned away"),
                         QStringLiteral("every place is being flashed"));
            },
            this);
    m_dropped = new OncePerSecond(
            [this](int count, const DeviceConnection &last) {
                sayCrowd(QStringLiteral("dropped"), count, last, QStringLiteral("closed to make room for a newcomer"),
                         QStringLiteral("it had sent nothing"));
            },
            this);
    connect(station, &Station::said, this, &StationTerminal::say);
    connect(station, &Station::warned, this, [this](const QString &text) { m_err->line(text); });
    connect(station, &Station::failed, this, [this](const QString &text) { m_err->line("error: " + text); });
    connect(station, &Station::serving, this, &StationTerminal::showStart);
    connect(station, &Station::concluded, this, &StationTerminal::showSummary);
}

void StationTerminal::say(const QString &text)
{
    (m_json ? m_err : m_out)->line(text);
}

void StationTerminal::showStart(quint16 port)
{
    FlashSession *session = m_station->session();
    const Station::Options &options = m_station->options();
    connect(session, &FlashSession::deviceConnected, this, &StationTerminal::showConnected);
    connect(session, &FlashSession::deviceTurnedAway, m_turnedAway, &OncePerSecond::add);
    connect(session, &FlashSession::deviceDropped, m_dropped, &OncePerSecond::add);
    connect(session, &FlashSession::acceptPaused, this, [this](const QString &reason) {
        m_err->line(QStringLiteral("warning: taking devices paused: %1. Devices wait until one is free; raise the "
                                   "limit of open files (ulimit -n) for more at once")
                            .arg(reason));
    });
    connect(session, &FlashSession::progress, this, &StationTerminal::showProgress);
    connect(session, &FlashSession::transferEnded, this, &StationTerminal::showEnded);
    connect(session, &FlashSession::keptOut, this, &StationTerminal::showKeptOut);
    connect(session, &FlashSession::adapterGone, this, [this](const QString &adapter) { showAdapter(adapter, false); });
    connect(session, &FlashSession::adapterBack, this, [this](const QString &adapter) { showAdapter(adapter, true); });
    connect(session, &FlashSession::fixturePaused, this, &StationTerminal::showPaused);

    const QSharedPointer<FlashImage> image = m_station->image();
    const QString path = printableName(QDir::toNativeSeparators(image->path()));
    const qint64 blocks = protocol::blockCount(image->size());
    if (m_json) {
        // A line controller is told the image's identity before any device.
        image->waitForDigest();
        QJsonArray adapters;
        for (const QString &adapter : options.adapters)
            adapters.append(adapter);
        m_out->line(json({{QStringLiteral("event"), QStringLiteral("start")},
                          {QStringLiteral("image"), path},
                          {QStringLiteral("bytes"), double(image->size())},
                          {QStringLiteral("blocks"), double(blocks)},
                          {QStringLiteral("sha256"), image->sha256()},
                          {QStringLiteral("port"), port},
                          {QStringLiteral("devices"), options.devices},
                          {QStringLiteral("adapters"), adapters},
                          {QStringLiteral("pause_after"), options.pauseAfter}}));
        return;
    }
    m_out->line(QStringLiteral("Image %1: %2 bytes, %3 blocks.").arg(path).arg(image->size()).arg(blocks));
    // Said once, whether the digest comes before or after this look.
    auto sayDigest = [this, image] {
        if (!m_digestSaid && !image->sha256().isEmpty())
            m_out->line(QStringLiteral("Image SHA-256 ") + image->sha256());
        m_digestSaid = m_digestSaid || !image->sha256().isEmpty();
    };
    connect(image.data(), &FlashImage::digestComputed, this, sayDigest);
    sayDigest();
    QStringList details;
    if (options.devices > 1)
        details << QStringLiteral("up to %1 at once%2")
                           .arg(options.devices)
                           .arg(options.adapters.size() > 1 ? QStringLiteral(" on each adapter") : QString());
    if (options.count > 0)
        details << QStringLiteral("%1 to flash").arg(options.count);
    details << QStringLiteral("Ctrl+C stops");
    m_out->line(QStringLiteral("Listening on port %1; waiting for devices (%2).")
                        .arg(port)
                        .arg(details.join(QStringLiteral(", "))));
    if (options.pauseAfter > 0)
        m_out->line(QStringLiteral("A fixture on which %1 different units fail in a row is paused until the station "
                                   "is started again.")
                            .arg(options.pauseAfter));
}

void StationTerminal::showConnected(const DeviceConnection &device)
{
    if (m_json)
        m_out->line(json({{QStringLiteral("event"), QStringLiteral("connected")},
                          {QStringLiteral("connection"), device.number},
                          {QStringLiteral("adapter"), device.adapter},
                          {QStringLiteral("device"), device.address}}));
}

void StationTerminal::sayCrowd(const QString &event, int count, const DeviceConnection &device, const QString &what,
                               const QString &why)
{
    if (m_json) {
        m_out->line(json({{QStringLiteral("event"), event},
                          {QStringLiteral("adapter"), device.adapter},
                          {QStringLiteral("device"), device.address},
                          {QStringLiteral("count"), count}}));
    } else if (count == 1) {
        m_out->line(QStringLiteral("%1 %2: %3").arg(deviceName(device.adapter, device.address), what, why));
    } else {
        m_out->line(QStringLiteral("%1 %2 in a second, the last %3: %4")
                            .arg(plural(count, "device", "devices"), what, deviceName(device.adapter, device.address),
                                 why));
    }
}

void StationTerminal::showAdapter(const QString &adapter, bool back)
{
    if (m_json)
        m_out->line(
                json({{QStringLiteral("event"), back ? QStringLiteral("adapter-back") : QStringLiteral("adapter-gone")},
                      {QStringLiteral("adapter"), adapter}}));
    else if (back)
        m_out->line(QStringLiteral("%1 is back and holds 192.168.0.92: its fixture is served again")
                            .arg(printableName(adapter)));
    else
        m_out->line(QStringLiteral("%1 is gone: its fixture is not served").arg(printableName(adapter)));
}

void StationTerminal::showPaused(const QString &fixture, const QString &reason)
{
    const QString name = fixture.isEmpty() ? QStringLiteral("The station") : printableName(fixture);
    if (m_json)
        m_out->line(json({{QStringLiteral("event"), QStringLiteral("paused")},
                          {QStringLiteral("adapter"), fixture},
                          {QStringLiteral("reason"), reason}}));
    else
        m_out->line(QStringLiteral("%1 is paused until the station is started again: %2").arg(name, reason));
}

void StationTerminal::showKeptOut(const TransferReport &report)
{
    if (m_json) {
        QJsonObject line = RecordRow::of(report, kStopped).json();
        line.insert(QStringLiteral("event"), QStringLiteral("kept-out"));
        line.insert(QStringLiteral("connections"), report.connections);
        m_out->line(json(line));
        return;
    }
    m_out->line(QStringLiteral("%1 closed at once: its fixture is paused%2")
                        .arg(deviceName(report.connection.adapter, report.connection.address),
                             report.connections > 1
                                     ? QStringLiteral(" (%1 devices in a second)").arg(report.connections)
                                     : QString()));
}

void StationTerminal::showProgress(const DeviceConnection &device, int percent)
{
    LiveDevice &live = m_live[device.number];
    const int before = live.percent;
    live.adapter = device.adapter;
    live.device = device.address;
    live.percent = percent;
    if (m_json) {
        if (percent / 10 > before / 10)
            m_out->progressLine(json({{QStringLiteral("event"), QStringLiteral("progress")},
                                      {QStringLiteral("connection"), device.number},
                                      {QStringLiteral("adapter"), device.adapter},
                                      {QStringLiteral("device"), device.address},
                                      {QStringLiteral("percent"), percent / 10 * 10}}));
    } else if (m_out->isLive()) {
        showLive();
    } else if (percent / 10 > before / 10) {
        // Elsewhere (a log file, a pipe) one plain line every 10 %.
        m_out->progressLine(
                QStringLiteral("%1: %2 %").arg(deviceName(device.adapter, device.address)).arg(percent / 10 * 10));
    }
}

void StationTerminal::showLive()
{
    QStringList lines;
    for (const LiveDevice &live : qAsConst(m_live)) {
        const int filled = kBarWidth * live.percent / 100;
        lines << QStringLiteral("%1 [%2%3] %4%")
                         .arg(deviceName(live.adapter, live.device), QString(filled, QLatin1Char('#')),
                              QString(kBarWidth - filled, QLatin1Char('.')))
                         .arg(live.percent, 3);
    }
    m_out->setLive(lines);
}

void StationTerminal::showEnded(const TransferReport &report)
{
    if (m_live.remove(report.connection.number) && m_out->isLive())
        showLive();
    const int flash = m_station->session()->fixtures()->counts().flashed;
    if (m_json) {
        QJsonObject end = RecordRow::of(report, kStopped).json();
        end.insert(QStringLiteral("event"), QStringLiteral("end"));
        end.insert(QStringLiteral("flash"), flash);
        end.insert(QStringLiteral("connection"), report.connection.number);
        end.insert(QStringLiteral("connections"), report.connections);
        end.insert(QStringLiteral("result"), endingWord(report.ending));
        m_out->line(json(end));
        return;
    }
    m_out->line(QStringLiteral("flash %1: %2%3, %4, %5 s, %6 MiB/s")
                        .arg(flash)
                        .arg(deviceName(report.connection.adapter, report.connection.address),
                             report.deviceMac.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(report.deviceMac),
                             resultText(report, QStringLiteral("stopped mid-flash")),
                             QString::number(report.seconds(), 'f', 3),
                             QString::number(report.mibPerSecond(), 'f', 2)));
}

void StationTerminal::showSummary()
{
    m_turnedAway->flush();
    m_dropped->flush();
    const Station::Options &options = m_station->options();
    FixtureModel *fixtures = m_station->session() ? m_station->session()->fixtures() : nullptr;
    const FixtureModel::Counts total = fixtures ? fixtures->counts() : FixtureModel::Counts();
    const QStringList paused = fixtures ? fixtures->pausedFixtures() : QStringList();
    if (m_json) {
        QJsonArray adapters;
        for (const QString &adapter : options.adapters) {
            const FixtureModel::Counts tally = fixtures ? fixtures->countsOf(adapter) : FixtureModel::Counts();
            adapters.append(QJsonObject{{QStringLiteral("adapter"), adapter},
                                        {QStringLiteral("began"), tally.flashed},
                                        {QStringLiteral("complete"), tally.complete},
                                        {QStringLiteral("not"), tally.failed},
                                        {QStringLiteral("paused"), paused.contains(adapter)}});
        }
        m_out->line(json({{QStringLiteral("event"), QStringLiteral("summary")},
                          {QStringLiteral("began"), total.flashed},
                          {QStringLiteral("complete"), total.complete},
                          {QStringLiteral("not"), total.failed},
                          {QStringLiteral("adapters"), adapters},
                          {QStringLiteral("paused"), QJsonArray::fromStringList(paused)},
                          {QStringLiteral("record_unwritten"), m_station->unwritten()},
                          {QStringLiteral("database_waiting"), m_station->databaseWaiting()}}));
        return;
    }
    m_out->line(QStringLiteral("%1 began: %2 complete, %3 not.")
                        .arg(plural(total.flashed, "flash", "flashes"))
                        .arg(total.complete)
                        .arg(total.failed));
    if (options.adapters.size() > 1) {
        for (const QString &adapter : options.adapters) {
            const FixtureModel::Counts tally = fixtures ? fixtures->countsOf(adapter) : FixtureModel::Counts();
            m_out->line(QStringLiteral("  %1: %2 began, %3 complete, %4 not.%5")
                                .arg(printableName(adapter))
                                .arg(tally.flashed)
                                .arg(tally.complete)
                                .arg(tally.failed)
                                .arg(paused.contains(adapter) ? QStringLiteral(" Paused.") : QString()));
        }
    }
    if (m_station->databaseWaiting() > 0)
        m_out->line(QStringLiteral("%1 of the record wait for the line's database; they go with the next start.")
                            .arg(plural(m_station->databaseWaiting(), "row", "rows")));
    if (paused.contains(QString()))
        m_out->line(QStringLiteral("The station was paused."));
    else if (options.adapters.size() <= 1 && !paused.isEmpty())
        m_out->line(QStringLiteral("Paused: %1.").arg(printableName(paused.join(QStringLiteral(", ")))));
}
