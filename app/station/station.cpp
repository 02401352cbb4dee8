#include "app/station/station.h"

#include "adapter/networkadapters.h"
#include "app/station/console.h"
#include "image/flashimage.h"
#include "server/flashlog.h"
#include "server/protocol.h"
#include "server/tcpserver.h"

#include <QCoreApplication>
#include <QDir>

namespace {
const int kBarWidth = 30;
} // namespace

Station::Station(const Options &options, NetworkAdapters *adapters, QTextStream &out, QTextStream &err)
    : m_options(options)
    , m_adapterSearch(adapters)
    , m_out(out)
    , m_err(err)
    , m_terminal(outputIsTerminal())
{
}

Station::~Station() = default;

bool Station::start()
{
    const QString address = m_adapterSearch.getServerIp();
    if (!m_adapterSearch.adapterFound()) {
        m_out << "No wired adapter found by its name (Ethernet, Ethernet2 ... 5, Local Area Connection ..., "
              << QString::fromUtf8("以太网 ..., 本地连接 ...") << "); serving on every address. The device looks for "
              << kServerAddress << ": give the PC's wired adapter that address." << Qt::endl;
    } else if (address != kServerAddress) {
        m_err << "error: the wired adapter " << m_adapterSearch.adapterName() << " holds "
              << (address.isEmpty() ? QStringLiteral("no IPv4 address") : address) << ", not " << kServerAddress
              << ", so the device would not find this PC. Set it (ModifyIP in TcpServer, or by hand) and start "
                 "again."
              << Qt::endl;
        return false;
    } else {
        m_out << "Wired adapter " << m_adapterSearch.adapterName() << " holds " << kServerAddress << "." << Qt::endl;
    }

    m_image = FlashImage::load(m_options.imagePath);
    const QString path = QDir::toNativeSeparators(m_options.imagePath);
    if (!m_image->isLoaded() || m_image->size() == 0) {
        m_err << "error: cannot use the image " << path << ": "
              << (m_image->isLoaded() ? QStringLiteral("it is empty") : m_image->failure()) << Qt::endl;
        return false;
    }
    m_out << "Image " << path << ": " << m_image->size() << " bytes, " << protocol::blockCount(m_image->size())
          << " blocks." << Qt::endl;
    connect(m_image.data(), &FlashImage::digestComputed, this,
            [this] { m_out << "Image SHA-256 " << m_image->sha256() << Qt::endl; });

    m_server = new TcpServer(TcpServer::Options(), this);
    if (!m_options.logPath.isEmpty()) {
        m_log = new FlashLog(m_options.logPath, QStringLiteral("station stopped mid-flash"), this);
        m_log->setImage(m_image);
        m_log->setAdapterName(m_adapterSearch.adapterName());
        connect(m_server, &TcpServer::transferEnded, m_log, &FlashLog::record);
        connect(m_log, &FlashLog::writeFailed, this, [this](const QString &reason, int waiting) {
            m_err << "warning: the flash record " << QDir::toNativeSeparators(m_log->path()) << " was not written: "
                  << reason << " (" << waiting << " rows wait)" << Qt::endl;
        });
    }
    connect(m_server, &TcpServer::deviceConnected, this, [this](const QString &device) { m_device = device; });
    // Two devices on one cable: the one that came second is told to the operator.
    connect(m_server, &TcpServer::deviceTurnedAway, this, [this](const QString &device) {
        m_out << (m_terminal ? "\r" : "") << device << " turned away: " << m_device << " is being flashed" << Qt::endl;
    });
    connect(m_server, &TcpServer::progress, this, &Station::showProgress);
    connect(m_server, &TcpServer::transferEnded, this, &Station::showEnded);
    connect(m_server, &TcpServer::listenFailed, this, [this](const QString &error) {
        m_err << "error: cannot listen on port " << protocol::kPort << ": " << error
              << ". Another program holds it (TcpServer, or another station); close it and start again." << Qt::endl;
    });
    if (!m_server->startListen())
        return false;
    m_server->slotRecive(m_image->bytes());
    m_out << "Listening on port " << protocol::kPort << "; waiting for devices ("
          << (m_options.count > 0 ? QStringLiteral("%1 to flash, ").arg(m_options.count) : QString())
          << "Ctrl+C stops)." << Qt::endl;
    return true;
}

void Station::showProgress(int percent)
{
    if (m_terminal) {
        const int filled = kBarWidth * percent / 100;
        m_out << "\r[" << QString(filled, QLatin1Char('#')) << QString(kBarWidth - filled, QLatin1Char('.')) << "] "
              << qSetFieldWidth(3) << percent << qSetFieldWidth(0) << "% " << m_device << Qt::flush;
    } else if (percent / 10 > m_shownPercent / 10) {
        // Elsewhere (a log file, a pipe) one plain line every 10 %.
        m_out << m_device << ": " << percent / 10 * 10 << " %" << Qt::endl;
    }
    m_shownPercent = percent;
}

void Station::showEnded(const TransferReport &report)
{
    ++m_began;
    const bool complete = report.ending == TransferReport::Complete;
    m_complete += complete;
    if (m_terminal && m_shownPercent >= 0)
        m_out << "\r" << QString(kBarWidth + 8 + m_device.size(), QLatin1Char(' ')) << "\r";
    m_shownPercent = -1;
    m_out << "flash " << m_began << ": " << report.device
          << (report.deviceMac.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(report.deviceMac)) << ", "
          << endingText(report.ending, QStringLiteral("stopped mid-flash")) << ", "
          << QString::number(report.seconds(), 'f', 3) << " s, " << QString::number(report.mibPerSecond(), 'f', 2)
          << " MiB/s" << Qt::endl;
    if (m_finished)
        return;
    // The same image for the next device, without reading it again.
    m_server->slotRecive(m_image->bytes());
    if (m_options.count > 0 && m_complete >= m_options.count)
        finish();
}

void Station::stop()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_server)
        m_server->stopTransfer();
    finish();
}

void Station::finish()
{
    m_finished = true;
    const int failed = m_began - m_complete;
    m_out << m_began << (m_began == 1 ? " flash" : " flashes") << " began: " << m_complete << " complete, " << failed
          << " not." << Qt::endl;
    QCoreApplication::exit(failed == 0 ? 0 : 1);
}
