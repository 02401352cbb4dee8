#ifndef SESSION_H
#define SESSION_H

#include "server/transferreport.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>

class NetworkAdapters;
class ServerInterface;
class TcpServer;
struct FakeAdapters;

bool waitFor(const std::function<bool()> &done, int ms = 5000); // runs the event loop meanwhile
int runProgram(const QString &program, const QStringList &arguments); // its exit status, or -1
QByteArray pattern(int length, int seed); // bytes that differ from block to block
bool writeFile(const QString &path, const QByteArray &bytes); // its folder too
bool inOwnNetworkNamespace(); // where tests may make network interfaces
// Tables of scripts: a row's name reads as the behaviour, its checks (" | " between them) as what then shows.
void scriptColumns();
void row(const char *name, const QString &script, const QString &checks);
enum class Target { Core, Window }; // the server alone (on a free port), or the window (on 10013)
void runRow(Target target);

struct Device // a device (or a stranger) on the wire, in the test's own event loop
{
    Device(const QString &host, quint16 port);
    QByteArray take(int count); // exactly count bytes, or what came in time
    QTcpSocket socket;
};

// The server alone or the window, the operator's hands and the devices that
// meet it, driven by a script whose steps read as what they do (session.cpp).
class Session : public QObject
{
public:
    explicit Session(Target target = Target::Window);
    ~Session() override;
    void run(const QString &script); // fails the test at the first step that goes otherwise
    void verify(const QString &script, const QStringList &checks); // then each "what=value"
    QString show(const QString &what);
    TcpServer *server() const; // the server the devices meet (the window's own, or the test's)
    std::unique_ptr<ServerInterface> window;

private:
    void start();
    void step(const QString &words);
    void closeBoxes();
    void watch(TcpServer *server);
    const Target m_target;
    std::unique_ptr<FakeAdapters> m_fake;
    NetworkAdapters *m_adapters;
    std::unique_ptr<TcpServer> m_core;
    QTimer m_boxTimer;
    QStringList m_boxes, m_steps, m_asked, m_echoes, m_endings;
    QList<QStringList> m_undo;
    QObject *m_lastBox = nullptr, *m_watched = nullptr;
    bool m_holdBox = false, m_answerYes = false, m_held = false;
    int m_next = 0, m_seed = 0, m_connects = 0, m_disconnects = 0, m_refusals = 0, m_progress = 0;
    int m_watchMs = 500, m_cap = 8 * 1024 * 1024;
    QString m_logPath, m_connected;
    QList<TransferReport> m_reports;
    QMap<QString, std::shared_ptr<Device>> m_devices;
    QMap<QString, QByteArray> m_told;
    QByteArray m_file, m_loaded;
    std::unique_ptr<QTcpServer> m_portHolder;
};

#endif // SESSION_H
