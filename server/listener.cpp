#include "server/listener.h"

#include "server/socketio.h"

#include <QSocketNotifier>

namespace {
// Taken at one go at most; more wait for the next turn of the event loop, so
// that the connections already served are read meanwhile.
const int kAcceptsAtOnce = 64;
const int kPauseSaidAgainMsec = 60000;
} // namespace

Listener::Listener(int pauseMsec, QObject *parent)
    : QObject(parent)
    , m_pauseMsec(pauseMsec)
    , m_pause(new QTimer(this))
{
    m_pause->setSingleShot(true);
    connect(m_pause, &QTimer::timeout, this, &Listener::resume);
}

Listener::~Listener()
{
    close();
}

bool Listener::listen(quint16 port, const QByteArray &adapter)
{
    if (isListening())
        return true;
    m_error.clear();
    m_descriptor = adapter.isEmpty() ? socketio::listenOnAll(port, &m_error)
                                     : socketio::listenOnAdapter(adapter, port, &m_error);
    if (m_descriptor == -1)
        return false;
    m_notifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Listener::acceptWaiting);
    return true;
}

void Listener::close()
{
    m_pause->stop();
    delete m_notifier;
    m_notifier = nullptr;
    if (m_descriptor != -1)
        socketio::closeSocket(m_descriptor);
    m_descriptor = -1;
}

quint16 Listener::port() const
{
    return isListening() ? socketio::localPort(m_descriptor) : 0;
}

void Listener::acceptWaiting()
{
    for (int taken = 0; taken < kAcceptsAtOnce && isListening(); ++taken) {
        socketio::Acceptance acceptance = socketio::Acceptance::NoneWaiting;
        QString error;
        const qintptr descriptor = socketio::accept(m_descriptor, &acceptance, &error);
        switch (acceptance) {
        case socketio::Acceptance::Connection: emit accepted(descriptor); break;
        case socketio::Acceptance::Gone: break;
        case socketio::Acceptance::NoneWaiting: return;
        case socketio::Acceptance::CannotNow:
            // The connection stays waiting, and the notifier would say so again at once.
            m_notifier->setEnabled(false);
            m_pause->start(m_pauseMsec);
            // Once, and again only where it comes back after a quiet while.
            if (!m_sincePauseSaid.isValid() || m_sincePauseSaid.hasExpired(kPauseSaidAgainMsec))
                emit paused(error);
            m_sincePauseSaid.start();
            return;
        }
    }
}

void Listener::resume()
{
    if (m_notifier)
        m_notifier->setEnabled(true);
}
