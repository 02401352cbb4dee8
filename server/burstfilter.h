#ifndef BURSTFILTER_H
#define BURSTFILTER_H

#include "server/transferreport.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// Keeps a crowd from flooding whoever tells or records what it does: reports
// of one kind (by default connections that were told the length and took no
// block, from one device address on one adapter: a broken device, a flapping
// cable, a stranger on the device network) pass at most once a second. The
// first passes as it is; the others of that second are counted into one
// report that says how many (TransferReport::connections). Every other report
// passes at once.
class BurstFilter : public QObject
{
    Q_OBJECT

public:
    // The kind of a report that is counted; empty: it passes at once.
    using KeyOf = std::function<QString(const TransferReport &)>;
    // Empty transfers, by adapter and device address.
    static QString emptyTransfer(const TransferReport &report);

    explicit BurstFilter(KeyOf keyOf = emptyTransfer, int periodMsec = 1000, QObject *parent = nullptr);

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

    void passDue();

    const KeyOf m_keyOf;
    const int m_periodMsec;
    QHash<QString, Burst> m_bursts; // by kind
    QTimer m_timer;
};

#endif // BURSTFILTER_H
