#include "station/oncepersecond.h"

OncePerSecond::OncePerSecond(Say say, QObject *parent)
    : QObject(parent)
    , m_say(std::move(say))
{
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &OncePerSecond::flush);
}

void OncePerSecond::add(const DeviceConnection &device)
{
    m_last = device;
    ++m_count;
    if (!m_timer.isActive()) {
        flush();
        m_timer.start();
    }
}

void OncePerSecond::flush()
{
    if (m_count == 0) {
        m_timer.stop();
        return;
    }
    const int count = m_count;
    m_count = 0;
    m_say(count, m_last);
}
