#include "station/station.h"

#include "adapter/networkadapters.h"
#include "files/systemname.h"
#include "image/flashimage.h"
#include "record/databasesender.h"
#include "record/flashrecord.h"
#include "session/flashsession.h"

#include <QDeadlineTimer>
#include <QDir>

namespace {
QString plural(int count, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}
} // namespace

Station::Station(const Options &options, NetworkAdapters *adapters, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_adapterSearch(adapters)
{
}

Station::~Station() = default;

bool Station::checkAdapters()
{
    if (m_options.adapters.isEmpty()) {
        const QString address = m_adapterSearch.getServerIp();
        if (!m_adapterSearch.adapterFound()) {
            emit said(QStringLiteral("No wired adapter found by its name (Ethernet, Ethernet2 ... 5, Local Area "
                                     "Connection ..., 以太网 ..., 本地连接 ...); serving on every address. The device "
                                     "looks for %1: give the PC's wired adapter that address.")
                              .arg(kServerAddress));
        } else if (address != kServerAddress) {
            emit failed(QStringLiteral("the wired adapter %1 holds %2, not %3, so the device would not find this PC. "
                                       "Set it (ModifyIP in TcpServer, or by hand) and start again.")
                                .arg(m_adapterSearch.adapterName(),
                                     address.isEmpty() ? QStringLiteral("no IPv4 address") : address, kServerAddress));
            return false;
        } else {
            emit said(QStringLiteral("Wired adapter %1 holds %2.").arg(m_adapterSearch.adapterName(), kServerAddress));
        }
        return true;
    }

    const QList<NetworkAdapter> present = m_adapterSearch.adapters()->list();
    for (const QString &name : m_options.adapters) {
        auto found = std::find_if(present.begin(), present.end(),
                                  [&name](const NetworkAdapter &adapter) { return adapter.name == name; });
        if (found == present.end()) {
            emit failed(QStringLiteral("there is no adapter called %1").arg(printableName(name)));
            return false;
        }
        if (found->loopback) {
            emit failed(
                    QStringLiteral("%1 is a loopback interface: no device is ever behind it").arg(printableName(name)));
            return false;
        }
        if (!found->addresses.contains(QHostAddress(kServerAddress))) {
            emit failed(QStringLiteral("the adapter %1 does not hold %2, so its device would not find this PC: give it "
                                       "that address (sudo ip address add %2/24 dev %1) and start again")
                                .arg(printableName(name), kServerAddress));
            return false;
        }
    }
    // Several adapters on one subnet: the kernel's strict reverse-path filter
    // drops what a device sends on all but one of them, and nothing would say why.
    if (m_options.adapters.size() > 1) {
        for (const QString &name : m_options.adapters) {
            if (reversePathFilter(name) == 1)
                emit warned(QStringLiteral("warning: the kernel's strict reverse-path filter drops the packets of the "
                                           "device on %1, since several adapters hold %2: make it loose with sudo "
                                           "sysctl -w net.ipv4.conf.all.rp_filter=2 net.ipv4.conf.%1.rp_filter=2")
                                    .arg(printableName(name), kServerAddress));
        }
    }
    emit said(QStringLiteral("Adapters %1 hold %2.")
                      .arg(printableName(m_options.adapters.join(QStringLiteral(", "))), kServerAddress));
    return true;
}

bool Station::start()
{
    if (!checkAdapters())
        return false;
    m_image = FlashImage::load(m_options.imagePath);
    if (!m_image->isLoaded() || m_image->size() == 0) {
        emit failed(QStringLiteral("cannot use the image %1: %2")
                            .arg(printableName(QDir::toNativeSeparators(m_image->path())),
                                 m_image->isLoaded() ? QStringLiteral("it is empty") : m_image->failure()));
        return false;
    }

    FlashSession::Options session;
    session.server.port = m_options.port;
    session.server.devices = m_options.devices;
    session.server.imageUse = TcpServer::ImageUse::EveryDevice;
    session.server.watchPeriodMsec = m_options.watchPeriodMsec;
    session.adapters = m_options.adapters;
    session.recordPath = m_options.logPath;
    session.stoppedResult = QStringLiteral("station stopped mid-flash");
    session.station = m_options.station;
    session.pauseAfter = m_options.pauseAfter;
    session.databaseUrl = m_options.databaseUrl;
    m_session = new FlashSession(session, this);
    // Without the line's database the station flashes all the same.
    if (!m_session->databaseProblem().isEmpty())
        emit warned(QStringLiteral("warning: %1").arg(m_session->databaseProblem()));
    if (DatabaseSender *database = m_session->database()) {
        connect(database, &DatabaseSender::unreachable, this, [this](const QString &why) {
            emit warned(QStringLiteral("warning: the line's database cannot be reached: %1. The rows wait, in the "
                                       "local record too, and are sent once it can.")
                                .arg(why));
        });
        connect(database, &DatabaseSender::reached, this, [this](int caughtUp) {
            emit said(QStringLiteral("The line's database is reached again: %1 caught up.")
                              .arg(plural(caughtUp, "row", "rows")));
        });
    }
    connect(m_session, &FlashSession::listening, this, [this](quint16 port) {
        m_serving = true;
        emit serving(port);
    });
    connect(m_session, &FlashSession::listenFailed, this, [this](const QString &error) {
        // At the start it cannot serve; later (an adapter back) the others serve on.
        if (m_serving) {
            emit warned(QStringLiteral("warning: cannot listen again: %1").arg(error));
            return;
        }
        emit failed(QStringLiteral("cannot listen on port %1: %2. Another program holds it (TcpServer, or another "
                                   "station); close it and start again.")
                            .arg(m_options.port)
                            .arg(error));
        m_concluded = true;
        emit finished(1);
    });
    connect(m_session, &FlashSession::transferEnded, this, [this] {
        if (!m_stopping && m_options.count > 0 && m_session->fixtures()->counts().complete >= m_options.count) {
            // Enough: no device more; flashes still in progress finish.
            m_stopping = true;
            m_session->closeListener();
        }
    });
    connect(m_session, &FlashSession::drained, this, &Station::conclude);
    connect(m_session, &FlashSession::stopped, this, &Station::conclude);
    if (FlashRecord *record = m_session->record()) {
        if (!record->continuedFrom().isEmpty())
            emit said(record->continuationNote());
        connect(record, &FlashRecord::writeFailed, this, [this, record](const QString &reason, int waiting) {
            emit warned(QStringLiteral("warning: the flash record %1 was not written: %2 (%3 waiting)")
                                .arg(QDir::toNativeSeparators(record->path()), reason, plural(waiting, "row", "rows")));
        });
        connect(record, &FlashRecord::delayed, this, [this, record](int waiting, const QDateTime &since) {
            emit warned(QStringLiteral("warning: %1 of the flash record %2 wait to be written, since %3: the disk "
                                       "is slow; they are kept and written as it takes them")
                                .arg(plural(waiting, "row", "rows"), QDir::toNativeSeparators(record->path()),
                                     since.time().toString(QStringLiteral("HH:mm:ss"))));
        });
    }
    m_session->serve(m_image);
    m_session->startListen();
    return true;
}

quint16 Station::serverPort() const
{
    return m_session ? m_session->serverPort() : 0;
}

void Station::stop()
{
    if (m_concluded)
        return;
    m_stopping = true;
    if (!m_session)
        return conclude();
    m_session->stop();
}

void Station::conclude()
{
    if (m_concluded)
        return;
    m_concluded = true;
    // One last attempt for rows that wait; the operator may end it.
    const int requests = m_options.stopRequests();
    const std::function<int()> asked = m_options.stopRequests;
    if (m_session)
        m_unwritten = m_session->finishRecord(
                QDeadlineTimer(2000), [requests, asked] { return asked() > requests; }, &m_unwrittenReason,
                &m_databaseWaiting);
    if (m_unwritten > 0)
        emit failed(QStringLiteral("%1 of the flash record %2 could not be written: %3")
                            .arg(plural(m_unwritten, "row", "rows"),
                                 QDir::toNativeSeparators(m_session->record()->path()), m_unwrittenReason));
    emit concluded();
    const FixtureModel::Counts counts = m_session ? m_session->fixtures()->counts() : FixtureModel::Counts();
    // A flash without its evidence is no complete success on a line.
    emit finished(counts.failed == 0 && m_unwritten == 0 ? 0 : 1);
}
