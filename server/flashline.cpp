#include "server/flashline.h"

#include "adapter/adapterwatch.h"
#include "adapter/networkadapters.h"
#include "files/systemname.h"

#include <QNetworkInterface>
#include <QThread>

namespace {

// The index of the interface of that name, where it holds the device's
// server address; 0 where there is none, or it holds another.
int servingIndex(const QString &adapter)
{
    const QNetworkInterface found = QNetworkInterface::interfaceFromName(QString::fromLatin1(nameToSystem(adapter)));
    for (const QNetworkAddressEntry &entry : found.addressEntries()) {
        if (entry.ip() == QHostAddress(kServerAddress))
            return found.index();
    }
    return 0;
}

} // namespace

FlashLine::FlashLine(const Options &options, QObject *parent)
    : QObject(parent)
    , m_thread(new QThread(this))
{
    const QStringList adapters = options.adapters.isEmpty() ? QStringList(QString()) : options.adapters;
    for (int i = 0; i < adapters.size(); ++i) {
        TcpServer::Options serverOptions = options.server;
        serverOptions.adapter = adapters.at(i);
        serverOptions.firstNumber = i + 1;
        serverOptions.numberStep = int(adapters.size());
        auto *server = new TcpServer(serverOptions);
        server->moveToThread(m_thread);
        // Gone with the thread's end, on the thread, with its transfers and connections.
        connect(m_thread, &QThread::finished, server, &QObject::deleteLater);
        m_servers.append(server);
        m_served.append({server, adapters.at(i)});
        connect(server, &TcpServer::hintSig, this, &FlashLine::hintSig);
        connect(server, &TcpServer::deviceConnected, this, &FlashLine::deviceConnected);
        connect(server, &TcpServer::deviceLeft, this, &FlashLine::deviceLeft);
        connect(server, &TcpServer::deviceTurnedAway, this, &FlashLine::deviceTurnedAway);
        connect(server, &TcpServer::deviceDropped, this, &FlashLine::deviceDropped);
        connect(server, &TcpServer::deviceKeptOut, this, &FlashLine::deviceKeptOut);
        connect(server, &TcpServer::acceptPaused, this, &FlashLine::acceptPaused);
        connect(server, &TcpServer::transferBegan, this, [this](const DeviceConnection &device) {
            m_flashing.insert(device.number);
            emit transferBegan(device);
        });
        connect(server, &TcpServer::requestsEchoed, this,
                [this](const DeviceConnection &device, const QStringList &requests) {
                    if (shown(device))
                        emit requestsEchoed(device, requests);
                });
        connect(server, &TcpServer::blockSent, this,
                [this](const DeviceConnection &device, int index, const QByteArray &block) {
                    if (shown(device))
                        emit blockSent(device, index, block);
                });
        connect(server, &TcpServer::progress, this, [this](const DeviceConnection &device, int percent) {
            if (shown(device))
                emit progress(device, percent);
        });
        connect(server, &TcpServer::transferEnded, this, [this](const TransferReport &report) {
            m_flashing.remove(report.connection.number);
            m_bursts.add(report);
        });
        connect(server, &TcpServer::listening, this, [this, i](quint16 port) {
            m_port = port;
            ++m_listening;
            if (m_served.at(i).gone) {
                m_served[i].gone = false;
                emit adapterBack(m_served.at(i).adapter);
            } else if (isListening()) {
                emit listening(port);
            }
        });
        connect(server, &TcpServer::listenFailed, this, [this](const QString &error) {
            // One listener that cannot is the line's failure; said once an attempt.
            if (!m_failureSaid)
                emit listenFailed(error);
            m_failureSaid = true;
        });
        connect(server, &TcpServer::listenerClosed, this, [this] {
            if (m_closing > 0 && --m_closing == 0)
                emit listenerClosed();
        });
        connect(server, &TcpServer::transfersStopped, this, [this] {
            if (m_stopping > 0 && --m_stopping == 0)
                emit transfersStopped();
        });
    }
    connect(&m_bursts, &BurstFilter::passed, this, &FlashLine::transferEnded);
    if (!options.adapters.isEmpty()) {
        m_watch = new AdapterWatch(this);
        connect(m_watch, &AdapterWatch::changed, this, &FlashLine::checkAdapters);
    }
    m_thread->start();
}

FlashLine::~FlashLine()
{
    // The servers go as their thread ends, closing every connection.
    m_thread->quit();
    m_thread->wait();
}

template<typename Call>
void FlashLine::onServer(TcpServer *server, Call call)
{
    QMetaObject::invokeMethod(server, call, Qt::QueuedConnection);
}

void FlashLine::listenOn(Served &served)
{
    if (!served.adapter.isEmpty())
        served.boundTo = servingIndex(served.adapter);
    TcpServer *server = served.server;
    onServer(server, [server] { server->startListen(); });
}

void FlashLine::startListen()
{
    m_failureSaid = false;
    m_listening = 0;
    for (Served &served : m_served)
        listenOn(served);
}

void FlashLine::closeListener()
{
    m_listening = 0;
    m_closing = int(m_servers.size());
    for (TcpServer *server : qAsConst(m_servers))
        onServer(server, [server] { server->closeListener(); });
}

void FlashLine::setPaused(const QString &adapter, bool paused)
{
    for (const Served &served : qAsConst(m_served)) {
        TcpServer *server = served.server;
        if (served.adapter == adapter)
            onServer(server, [server, paused] { server->setPaused(paused); });
    }
}

void FlashLine::stopTransfer()
{
    m_stopping = int(m_servers.size());
    for (TcpServer *server : qAsConst(m_servers))
        onServer(server, [server] { server->stopTransfer(); });
}

void FlashLine::slotRecive(const QSharedPointer<FlashImage> &image)
{
    m_image = image;
    // What the connections say of an earlier image is no longer shown, only how they end.
    const int generation = ++m_generation;
    for (TcpServer *server : qAsConst(m_servers))
        onServer(server, [server, image, generation] { server->slotRecive(image, generation); });
}

void FlashLine::checkAdapters()
{
    for (Served &served : m_served) {
        if (served.adapter.isEmpty())
            continue;
        const int index = servingIndex(served.adapter);
        const QNetworkInterface present =
                QNetworkInterface::interfaceFromName(QString::fromLatin1(nameToSystem(served.adapter)));
        // Gone, or replaced by one of the same name: the listener is bound to
        // an interface that is no more. (Down and up again, or its address
        // taken and given back, it serves on by itself.)
        if (!served.gone && served.boundTo != 0 && (!present.isValid() || present.index() != served.boundTo)) {
            served.gone = true;
            served.boundTo = 0;
            --m_listening;
            TcpServer *server = served.server;
            onServer(server, [server] { server->closeListener(); });
            emit adapterGone(served.adapter);
        }
        if (served.gone && served.boundTo == 0 && index != 0)
            listenOn(served);
    }
}
