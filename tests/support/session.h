#ifndef SESSION_H
#define SESSION_H

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>

class ServerInterface;
class NetworkAdapters;
struct FakeAdapters;

bool waitFor(const std::function<bool()> &done, int ms = 5000); // runs the event loop meanwhile
int runProgram(const QString &program, const QStringList &arguments); // its exit status, or -1
bool inOwnNetworkNamespace(); // where tests may make network interfaces
// Tables of scripts: a row's name reads as the behaviour, its checks (" | "
// between them) as what then shows.
void scriptColumns();
void row(const char *name, const QString &script, const QString &checks);
void runRow();

struct Device // a device (or a stranger) on the wire, in the test's own event loop
{
    explicit Device(const QString &host = "127.0.0.1");
    QByteArray take(int count); // exactly count bytes, or what came in time
    QTcpSocket socket;
};

// A window, the operator's hands and the devices that meet it, driven by a
// script whose steps read as what they do (see session.cpp).
class Session : public QObject
{
public:
    Session();
    ~Session() override;
    void run(const QString &script); // fails the test at the first step that goes otherwise
    void verify(const QString &script, const QStringList &checks); // then each "what=value"
    QString show(const QString &what);
    std::unique_ptr<ServerInterface> window;

private:
    void step(const QString &words);
    void closeBoxes();
    std::unique_ptr<FakeAdapters> m_fake;
    NetworkAdapters *m_adapters;
    QTimer m_boxTimer;
    QStringList m_boxes, m_steps, m_asked, m_links;
    QObject *m_lastBox = nullptr;
    bool m_holdBox = false, m_answerYes = false, m_held = false;
    int m_next = 0, m_seed = 0;
    QMap<QString, std::shared_ptr<Device>> m_devices;
    QMap<QString, QByteArray> m_told;
    QByteArray m_file, m_loaded;
    std::unique_ptr<QTcpServer> m_portHolder;
};

#endif // SESSION_H
