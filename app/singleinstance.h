#ifndef SINGLEINSTANCE_H
#define SINGLEINSTANCE_H

#include <QLockFile>
#include <QString>

// One program that serves the device per user session, the window or the
// station: a second one could not listen on port 10013 and would only confuse
// the operator. The lock lives in the user's runtime folder and names the
// program that holds it, its process and its host.
class SingleInstance
{
public:
    enum Claim {
        Taken, // this program holds the lock (or goes on without one; see note())
        HeldByWindow, // the TcpServer window runs in this session
        HeldByStation, // tcpserver-station runs in this session
        HeldElsewhere, // a lock left by a program on another host (see note())
        InTheWay, // something else stands where the lock belongs (see note())
    };

    SingleInstance();
    explicit SingleInstance(const QString &lockPath);

    // Takes the lock unless a live program of ours holds it. A lock that names
    // no live program of ours on this host (left by one that crashed, empty,
    // unreadable) is taken over.
    Claim claim();
    // One line for the operator where claim() has more to say: what stands in
    // the way and how to clear it, or why the program goes on without a lock.
    QString note() const { return m_note; }

private:
    QString m_path;
    QLockFile m_lock;
    QString m_note;
};

#endif // SINGLEINSTANCE_H
