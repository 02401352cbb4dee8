#include "station/station.h"

#include "adapter/networkadapters.h"
#include "station/console.h"
#include "station/oncepersecond.h"
#include "station/stationoutput.h"
#include "files/systemname.h"
#include "image/flashimage.h"
#include "server/flashline.h"
#include "record/flashrecord.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const int kBarWidth = 30;

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

Station::Station(const Options &options, NetworkAdapters *adapters, StationOutput *out, StationOutput *err,
                 QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_adapterSearch(adapters)
    , m_out(out)
    , m_err(err)
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
}

Station::~Station() = default;

void Station::error(const QString &text)
{
    m_err->line(QStringLiteral("error: ") + text);
}

bool Station::checkAdapters()
{
    if (m_options.adapters.isEmpty()) {
        const QString address = m_adapterSearch.getServerIp();
        if (!m_adapterSearch.adapterFound()) {
            // Standard output carries only JSON objects where asked.
            (m_options.json ? m_err : m_out)
                    ->line(QStringLiteral("No wired adapter found by its name (Ethernet, Ethernet2 ... 5, Local Area "
                                          "Connection ..., 以太网 ..., 本地连接 ...); serving on every address. The "
                                          "device looks for %1: give the PC's wired adapter that address.")
                                   .arg(kServerAddress));
        } else if (address != kServerAddress) {
            error(QStringLiteral("the wired adapter %1 holds %2, not %3, so the device would not find this PC. Set it "
                                 "(ModifyIP in TcpServer, or by hand) and start again.")
                          .arg(m_adapterSearch.adapterName(),
                               address.isEmpty() ? QStringLiteral("no IPv4 address") : address, kServerAddress));
            return false;
        } else if (!m_options.json) {
            m_out->line(
                    QStringLiteral("Wired adapter %1 holds %2.").arg(m_adapterSearch.adapterName(), kServerAddress));
        }
        return true;
    }

    const QList<NetworkAdapter> present = m_adapterSearch.adapters()->list();
    for (const QString &name : m_options.adapters) {
        auto found = std::find_if(present.begin(), present.end(),
                                  [&name](const NetworkAdapter &adapter) { return adapter.name == name; });
        if (found == present.end()) {
            error(QStringLiteral("there is no adapter called %1").arg(printableName(name)));
            return false;
        }
        if (found->loopback) {
            error(QStringLiteral("%1 is a loopback interface: no device is ever behind it").arg(printableName(name)));
            return false;
        }
        if (!found->addresses.contains(QHostAddress(kServerAddress))) {
            error(QStringLiteral("the adapter %1 does not hold %2, so its device would not find this PC: give it that "
                                 "address (sudo ip address add %2/24 dev %1) and start again")
                          .arg(printableName(name), kServerAddress));
            return false;
        }
    }
    // Several adapters on one subnet: the kernel's strict reverse-path filter
    // drops what a device sends on all but one of them, and nothing would say why.
    if (m_options.adapters.size() > 1) {
        for (const QString &name : m_options.adapters) {
            if (reversePathFilter(name) == 1)
                m_err->line(QStringLiteral("warning: the kernel's strict reverse-path filter drops the packets of the "
                                           "device on %1, since several adapters hold %2: make it loose with sudo "
                                           "sysctl -w net.ipv4.conf.all.rp_filter=2 net.ipv4.conf.%1.rp_filter=2")
                                    .arg(printableName(name), kServerAddress));
        }
    }
    if (!m_options.json)
        m_out->line(QStringLiteral("Adapters %1 hold %2.")
                            .arg(printableName(m_options.adapters.join(QStringLiteral(", "))), kServerAddress));
    return true;
}

bool Station::start()
{
    if (!checkAdapters())
        return false;

    m_image = FlashImage::load(m_options.imagePath);
    const QString path = printableName(QDir::toNativeSeparators(m_image->path()));
    if (!m_image->isLoaded() || m_image->size() == 0) {
        error(QStringLiteral("cannot use the image %1: %2")
                      .arg(path, m_image->isLoaded() ? QStringLiteral("it is empty") : m_image->failure()));
        return false;
    }
    const qint64 blocks = protocol::blockCount(m_image->size());
    if (m_options.json) {
        // A line controller is told the image's identity before any device.
        m_image->waitForDigest();
    } else {
        m_out->line(QStringLiteral("Image %1: %2 bytes, %3 blocks.").arg(path).arg(m_image->size()).arg(blocks));
        connect(m_image.data(), &FlashImage::digestComputed, this,
                [this] { m_out->line(QStringLiteral("Image SHA-256 ") + m_image->sha256()); });
    }

    FlashLine::Options line;
    line.server.port = m_options.port;
    line.server.devices = m_options.devices;
    line.server.imageUse = TcpServer::ImageUse::EveryDevice;
    line.server.watchPeriodMsec = m_options.watchPeriodMsec;
    line.adapters = m_options.adapters;
    m_line = new FlashLine(line, this);
    connect(m_line, &FlashLine::deviceConnected, this, &Station::showConnected);
    connect(m_line, &FlashLine::deviceTurnedAway, m_turnedAway, &OncePerSecond::add);
    connect(m_line, &FlashLine::deviceDropped, m_dropped, &OncePerSecond::add);
    connect(m_line, &FlashLine::acceptPaused, this, [this](const QString &reason) {
        m_err->line(QStringLiteral("warning: taking devices paused: %1. Devices wait until one is free; raise the "
                                   "limit of open files (ulimit -n) for more at once")
                            .arg(reason));
    });
    connect(m_line, &FlashLine::progress, this, &Station::showProgress);
    connect(m_line, &FlashLine::transferEnded, this, &Station::showEnded);
    if (!m_options.logPath.isEmpty()) {
        m_record = new FlashRecord(m_options.logPath, QStringLiteral("station stopped mid-flash"), {}, this);
        connect(m_line, &FlashLine::transferEnded, m_record, &FlashRecord::record);
        FlashRecord *record = m_record;
        connect(record, &FlashRecord::writeFailed, this, [this, record](const QString &reason, int waiting) {
            m_err->line(QStringLiteral("warning: the flash record %1 was not written: %2 (%3 waiting)")
                                .arg(QDir::toNativeSeparators(record->path()), reason, plural(waiting, "row", "rows")));
        });
        connect(record, &FlashRecord::delayed, this, [this, record](int waiting, const QDateTime &since) {
            m_err->line(QStringLiteral("warning: %1 of the flash record %2 wait to be written, since %3: the disk is "
                                       "slow; they are kept and written as it takes them")
                                .arg(plural(waiting, "row", "rows"), QDir::toNativeSeparators(record->path()),
                                     since.time().toString(QStringLiteral("HH:mm:ss"))));
        });
    }
    QString listenError;
    if (!m_line->startListen(&listenError)) {
        error(QStringLiteral("cannot listen on port %1: %2. Another program holds it (TcpServer, or another "
                             "station); close it and start again.")
                      .arg(m_options.port)
                      .arg(listenError));
        return false;
    }
    m_line->slotRecive(m_image);

    if (m_options.json) {
        QJsonArray adapters;
        for (const QString &adapter : m_options.adapters)
            adapters.append(adapter);
        m_out->line(json({{QStringLiteral("event"), QStringLiteral("start")},
                          {QStringLiteral("image"), path},
                          {QStringLiteral("bytes"), double(m_image->size())},
                          {QStringLiteral("blocks"), double(blocks)},
                          {QStringLiteral("sha256"), m_image->sha256()},
                          {QStringLiteral("port"), m_line->serverPort()},
                          {QStringLiteral("devices"), m_options.devices},
                          {QStringLiteral("adapters"), adapters}}));
    } else {
        QStringList details;
        if (m_options.devices > 1)
            details << QStringLiteral("up to %1 at once%2")
                               .arg(m_options.devices)
                               .arg(m_options.adapters.size() > 1 ? QStringLiteral(" on each adapter") : QString());
        if (m_options.count > 0)
            details << QStringLiteral("%1 to flash").arg(m_options.count);
        details << QStringLiteral("Ctrl+C stops");
        m_out->line(QStringLiteral("Listening on port %1; waiting for devices (%2).")
                            .arg(m_line->serverPort())
                            .arg(details.join(QStringLiteral(", "))));
    }
    return true;
}

quint16 Station::serverPort() const
{
    return m_line ? m_line->serverPort() : 0;
}

void Station::showConnected(const DeviceConnection &device)
{
    if (m_options.json)
        m_out->line(json({{QStringLiteral("event"), QStringLiteral("connected")},
                          {QStringLiteral("connection"), device.number},
                          {QStringLiteral("adapter"), device.adapter},
                          {QStringLiteral("device"), device.address}}));
}

void Station::sayCrowd(const QString &event, int count, const DeviceConnection &device, const QString &what,
                       const QString &why)
{
    if (m_options.json) {
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

void Station::showProgress(const DeviceConnection &device, int percent)
{
    LiveDevice &live = m_live[device.number];
    const int before = live.percent;
    live.adapter = device.adapter;
    live.device = device.address;
    live.percent = percent;
    if (m_options.json) {
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

void Station::showLive()
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

void Station::showEnded(const TransferReport &report)
{
    const bool complete = report.ending == TransferReport::Complete;
    const QString adapter = report.connection.adapter;
    m_total.began += report.connections;
    m_byAdapter[adapter].began += report.connections;
    m_total.complete += complete;
    m_byAdapter[adapter].complete += complete;
    if (m_live.remove(report.connection.number) && m_out->isLive())
        showLive();

    if (m_options.json) {
        QJsonObject end = FlashRecord::jsonFields(report, QStringLiteral("station stopped mid-flash"));
        end.insert(QStringLiteral("event"), QStringLiteral("end"));
        end.insert(QStringLiteral("flash"), m_total.began);
        end.insert(QStringLiteral("connection"), report.connection.number);
        end.insert(QStringLiteral("connections"), report.connections);
        end.insert(QStringLiteral("result"), endingWord(report.ending));
        m_out->line(json(end));
    } else {
        m_out->line(QStringLiteral("flash %1: %2%3, %4, %5 s, %6 MiB/s")
                            .arg(m_total.began)
                            .arg(deviceName(adapter, report.connection.address),
                                 report.deviceMac.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(report.deviceMac),
                                 resultText(report, QStringLiteral("stopped mid-flash")),
                                 QString::number(report.seconds(), 'f', 3),
                                 QString::number(report.mibPerSecond(), 'f', 2)));
    }

    if (!m_stopping && m_options.count > 0 && m_total.complete >= m_options.count) {
        // Enough: no device more; flashes still in progress finish.
        m_stopping = true;
        m_line->closeListener();
    }
    if (m_stopping)
        finishWhenIdle();
}

void Station::stop()
{
    if (m_concluded)
        return;
    m_stopping = true;
    if (m_line) {
        m_line->closeListener();
        m_line->stopTransfer();
    }
    finishWhenIdle();
}

void Station::finishWhenIdle()
{
    // Behind the reports already on their way.
    if (!m_line || !m_line->transferRunning())
        QMetaObject::invokeMethod(this, &Station::conclude, Qt::QueuedConnection);
}

void Station::conclude()
{
    if (m_concluded)
        return;
    m_concluded = true;
    if (m_line)
        m_line->passCounted();
    m_turnedAway->flush();
    m_dropped->flush();

    // One last attempt for rows that wait; a second Ctrl+C ends it.
    int unwritten = 0;
    QString reason;
    if (FlashRecord *record = m_record) {
        const int requests = stopRequests();
        unwritten = record->finish(
                QDeadlineTimer(2000), [requests] { return stopRequests() > requests; }, &reason);
        if (unwritten > 0)
            error(QStringLiteral("%1 of the flash record %2 could not be written: %3")
                          .arg(plural(unwritten, "row", "rows"), QDir::toNativeSeparators(record->path()), reason));
    }

    const int failed = m_total.began - m_total.complete;
    if (m_options.json) {
        QJsonArray adapters;
        for (const QString &adapter : m_options.adapters) {
            const Tally tally = m_byAdapter.value(adapter);
            adapters.append(QJsonObject{{QStringLiteral("adapter"), adapter},
                                        {QStringLiteral("began"), tally.began},
                                        {QStringLiteral("complete"), tally.complete},
                                        {QStringLiteral("not"), tally.began - tally.complete}});
        }
        m_out->line(json({{QStringLiteral("event"), QStringLiteral("summary")},
                          {QStringLiteral("began"), m_total.began},
                          {QStringLiteral("complete"), m_total.complete},
                          {QStringLiteral("not"), failed},
                          {QStringLiteral("adapters"), adapters},
                          {QStringLiteral("record_unwritten"), unwritten}}));
    } else {
        m_out->line(QStringLiteral("%1 began: %2 complete, %3 not.")
                            .arg(plural(m_total.began, "flash", "flashes"))
                            .arg(m_total.complete)
                            .arg(failed));
        if (m_options.adapters.size() > 1) {
            for (const QString &adapter : m_options.adapters) {
                const Tally tally = m_byAdapter.value(adapter);
                m_out->line(QStringLiteral("  %1: %2 began, %3 complete, %4 not.")
                                    .arg(adapter)
                                    .arg(tally.began)
                                    .arg(tally.complete)
                                    .arg(tally.began - tally.complete));
            }
        }
    }
    // A flash without its evidence is no complete success on a line.
    emit finished(failed == 0 && unwritten == 0 ? 0 : 1);
}
