#ifndef BURSTFILTER_H
#define BURSTFILTER_H

#include "server/transferreport.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

// Keeps a crowd of empty transfers from flooding whoever tells or records
// them: connections that were told the length and took no block (a broken
// device, a flapping cable, a stranger on the device network), from one device
// address on one adapter, pass at most once a second. The first passes as it
// is; the others of that second are counted into one report that says how
// many (TransferReport::connections). Every other report passes at once.
class BurstFilter : public QObject
{
    Q_OBJECT

public:
    explicit BurstFilter(int periodMsec = 1000, QObject *parent = nullptr);

    void add(const TransferReport &report);
    // Passes what is counted so far at once (the program ends).
    void flush();

signals:
    void passed(const TransferReport &report);

private:
    struct Burst
    {
        QElapsedTimer since; // the start of its second
        TransferReport counted; // the first counted, ended as the last
        int count = 0;
    };

    static bool isEmpty(const TransferReport &report);
    void passDue();

    const int m_periodMsec;
    QHash<QString, Burst> m_bursts; // by adapter and device address
    QTimer m_timer;
};

#endif // BURSTFILTER_H
