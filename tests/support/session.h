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

// A device (or a stranger) on the wire, played in the test's own event loop:
// every wait lets the server run, and every wait is bounded.
struct Device
{
    explicit Device(const QString &host = QStringLiteral("127.0.0.1"));
    void send(const QByteArray &request);
    QByteArray take(int count); // exactly count bytes, or what came in time
    bool closedByServer();
    QTcpSocket socket;
};

QByteArray pattern(int length, int seed); // bytes that differ block to block
QByteArray lengthHeaderOf(int length);    // 32 bits little-endian
void writeImage(const QByteArray &bytes, QString path = {}); // by default where the window reads it
bool portListening();                     // found without connecting
int runProgram(const QString &program, const QStringList &arguments, QString *output = nullptr);
QStringList &debugLines();                // since the session began
bool waitFor(const std::function<bool()> &done, int ms = 5000); // runs the event loop meanwhile

// A window, the operator's hands and the devices that meet it, driven by a
// script whose steps read as what they do (the steps: see session.cpp).
class Session : public QObject
{
public:
    Session();
    ~Session() override;
    // Runs the steps separated by ";"; fails the test at the first step that
    // does not go as written.
    void run(const QString &script);
    // Runs the script, then compares each "what=value" with what the window
    // shows (see show()), waiting a while for it.
    void verify(const QString &script, const QStringList &checks);
    QString show(const QString &what);

    std::unique_ptr<ServerInterface> window;

private:
    void step(const QString &words);
    void closeBoxes();
    std::unique_ptr<FakeAdapters> m_fake;
    NetworkAdapters *m_adapters;
    QTimer m_boxTimer;
    QStringList m_boxes, m_steps, m_asked, m_links;
    QObjectList m_seenBoxes;
    bool m_holdBox = false, m_answerYes = false, m_held = false;
    int m_next = 0, m_seed = 0;
    QMap<QString, std::shared_ptr<Device>> m_devices;
    QMap<QString, QByteArray> m_told;
    QByteArray m_file, m_loaded;
    std::unique_ptr<QTcpServer> m_portHolder;
};

#endif // SESSION_H
