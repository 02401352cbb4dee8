#ifndef ADAPTERWATCH_H
#define ADAPTERWATCH_H

#include <QObject>
#include <QTimer>

class QSocketNotifier;

// Says when the machine's adapters change: one comes or goes, goes up or
// down, gains or loses an address. The system tells (Linux: a netlink socket
// that hears the kernel's link and address notifications), so nothing is
// polled; a burst of changes is said once. The platform's halves:
// adapterwatch_unix.cpp, adapterwatch_win.cpp.
class AdapterWatch : public QObject
{
    Q_OBJECT

public:
    explicit AdapterWatch(QObject *parent = nullptr);
    ~AdapterWatch() override;

    // False where the system cannot be asked to tell (the changes go unseen).
    bool isWatching() const { return m_descriptor != -1; }

signals:
    void changed();

private:
    void readNotifications();

    qintptr m_descriptor = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_settle; // a burst of notifications is one change
};

#endif // ADAPTERWATCH_H
