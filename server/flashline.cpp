#include "server/flashline.h"

#include <QThread>

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
        m_servers.append(server);
        connect(server, &TcpServer::hintSig, this, &FlashLine::hintSig);
        connect(server, &TcpServer::deviceConnected, this, &FlashLine::deviceConnected);
        connect(server, &TcpServer::deviceTurnedAway, this, &FlashLine::deviceTurnedAway);
        connect(server, &TcpServer::deviceDropped, this, &FlashLine::deviceDropped);
        connect(server, &TcpServer::acceptPaused, this, &FlashLine::acceptPaused);
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
            m_unshown.remove(report.connection.number);
            m_bursts.add(report);
        });
        connect(server, &TcpServer::listenFailed, this, &FlashLine::listenFailed);
    }
    connect(&m_bursts, &BurstFilter::passed, this, &FlashLine::transferEnded);
    m_thread->start();
}

FlashLine::~FlashLine()
{
    // Each server goes on its own thread, with its transfers and connections.
    for (TcpServer *server : qAsConst(m_servers))
        QMetaObject::invokeMethod(
                server, [server] { delete server; }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
}

bool FlashLine::startListen(QString *error)
{
    bool all = true;
    for (TcpServer *server : qAsConst(m_servers)) {
        bool listening = false;
        quint16 port = 0;
        QString failure;
        QMetaObject::invokeMethod(
                server,
                [server, &listening, &port, &failure] {
                    listening = server->startListen();
                    port = server->serverPort();
                    failure = server->errorString();
                },
                Qt::BlockingQueuedConnection);
        if (listening)
            m_port = port;
        else if (all && error)
            *error = failure;
        all = all && listening;
    }
    m_listening = all;
    return all;
}

void FlashLine::closeListener()
{
    for (TcpServer *server : qAsConst(m_servers))
        QMetaObject::invokeMethod(server, &TcpServer::closeListener, Qt::BlockingQueuedConnection);
    m_listening = false;
}

bool FlashLine::transferRunning() const
{
    bool running = false;
    for (TcpServer *server : m_servers) {
        QMetaObject::invokeMethod(
                server, [server, &running] { running = running || server->transferRunning(); },
                Qt::BlockingQueuedConnection);
    }
    return running;
}

void FlashLine::stopTransfer()
{
    for (TcpServer *server : qAsConst(m_servers))
        QMetaObject::invokeMethod(server, &TcpServer::stopTransfer, Qt::BlockingQueuedConnection);
}

void FlashLine::slotRecive(const QSharedPointer<FlashImage> &image)
{
    m_image = image;
    for (TcpServer *server : qAsConst(m_servers)) {
        QList<int> ended;
        QMetaObject::invokeMethod(
                server,
                [server, image, &ended] {
                    ended = server->flashingConnections();
                    server->slotRecive(image);
                },
                Qt::BlockingQueuedConnection);
        // Their last signals are on their way still; only how they ended shows.
        for (int number : qAsConst(ended))
            m_unshown.insert(number);
    }
}
