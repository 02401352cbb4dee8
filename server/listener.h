#ifndef LISTENER_H
#define LISTENER_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

// Listens on a port and takes the connections that come, as descriptors.
// Where taking one fails for want of descriptors (a crowd, a low limit), or
// for any reason but the connection's own going, it never spins on the
// connection that waits: it pauses briefly and tries again, so that a device
// gets in as soon as a descriptor is free. The pause is said once, and again
// only where it comes back after a quiet minute.
class Listener : public QObject
{
    Q_OBJECT

public:
    explicit Listener(int pauseMsec = 50, QObject *parent = nullptr);
    ~Listener() override;

    // On every address, or on the adapter named (its name in the system's
    // bytes) alone. False, and errorString(), when it cannot.
    bool listen(quint16 port, const QByteArray &adapter = QByteArray());
    void close();
    bool isListening() const { return m_descriptor != -1; }
    quint16 port() const;
    QString errorString() const { return m_error; }

signals:
    // A connection, now the receiver's to keep or close.
    void accepted(qintptr descriptor);
    // Taking connections paused for want of descriptors: why, in the system's words.
    void paused(const QString &reason);

private:
    void acceptWaiting();
    void resume();

    const int m_pauseMsec;
    qintptr m_descriptor = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_pause; // a child, so that it moves with the listener to the serving thread
    QElapsedTimer m_sincePauseSaid; // the last pause
    QString m_error;
};

#endif // LISTENER_H
