#include "server/burstfilter.h"

#include <QList>

BurstFilter::BurstFilter(KeyOf keyOf, int periodMsec, QObject *parent)
    : QObject(parent)
    , m_keyOf(std::move(keyOf))
    , m_periodMsec(periodMsec)
{
    m_timer.setInterval(qMax(1, periodMsec / 4));
    connect(&m_timer, &QTimer::timeout, this, &BurstFilter::passDue);
}

QString BurstFilter::emptyTransfer(const TransferReport &report)
{
    if (report.ending != TransferReport::DeviceClosed || report.blocksSent != 0 || !report.image)
        return QString();
    return report.connection.adapter + QLatin1Char('\n') + report.connection.address;
}

void BurstFilter::add(const TransferReport &report)
{
    const QString key = m_keyOf(report);
    if (key.isEmpty())
        return emit passed(report);
    auto found = m_bursts.find(key);
    if (found == m_bursts.end()) {
        // The first of a second passes as it is.
        Burst burst;
        burst.since.start();
        m_bursts.insert(key, burst);
        if (!m_timer.isActive())
            m_timer.start();
        return emit passed(report);
    }
    Burst &burst = found.value();
    if (burst.count == 0) {
        burst.counted = report;
    } else {
        burst.counted.ended = report.ended;
        burst.counted.elapsedNs += report.elapsedNs;
    }
    burst.counted.connections = ++burst.count;
}

void BurstFilter::passDue()
{
    QList<TransferReport> due;
    for (auto it = m_bursts.begin(); it != m_bursts.end();) {
        Burst &burst = it.value();
        if (!burst.since.hasExpired(m_periodMsec)) {
            ++it;
        } else if (burst.count > 0) {
            // The crowd goes on: one report for its second, and the next second counts anew.
            due.append(burst.counted);
            burst.count = 0;
            burst.since.start();
            ++it;
        } else {
            it = m_bursts.erase(it);
        }
    }
    if (m_bursts.isEmpty())
        m_timer.stop();
    for (const TransferReport &report : qAsConst(due))
        emit passed(report);
}

void BurstFilter::flush()
{
    QList<TransferReport> due;
    for (const Burst &burst : qAsConst(m_bursts)) {
        if (burst.count > 0)
            due.append(burst.counted);
    }
    m_bursts.clear();
    m_timer.stop();
    for (const TransferReport &report : qAsConst(due))
        emit passed(report);
}
