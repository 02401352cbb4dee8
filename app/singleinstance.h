#ifndef SINGLEINSTANCE_H
#define SINGLEINSTANCE_H

#include <QLockFile>
#include <QString>

// One program that serves the device per user session, the window or the
// station: a second one could not listen on port 10013 and would only confuse
// the operator. The lock lives in the user's runtime folder and names the
// program that holds it.
class SingleInstance
{
public:
    SingleInstance();
    explicit SingleInstance(const QString &lockPath);
    // True when no other program holds the lock (one that ended holds none).
    bool claim();
    // The application name of the program that holds it, after claim() failed.
    QString holder() const { return m_holder; }

private:
    QLockFile m_lock;
    QString m_holder;
};

#endif // SINGLEINSTANCE_H
