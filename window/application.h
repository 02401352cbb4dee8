#ifndef APPLICATION_H
#define APPLICATION_H

#include <QLockFile>
#include <QString>

// Sets up what must be settled before the application object exists: the
// window follows the display's scaling, and a start without a display ends
// with one clear line and status 1 instead of an abort.
void prepareApplication();
// Called once the application object exists.
void applicationStarted();

// One TcpServer per user session: a second one could not listen on port
// 10013 and would only confuse the operator.
class SingleInstance
{
public:
    // The lock in the user's own runtime folder.
    SingleInstance();
    explicit SingleInstance(const QString &lockPath);
    // True when this is the only TcpServer; otherwise tells the operator.
    bool claim();

private:
    QLockFile m_lock;
};

#endif // APPLICATION_H
