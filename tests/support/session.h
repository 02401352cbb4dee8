#ifndef SESSION_H
#define SESSION_H

#include "adapter/networkadapters.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>

class ServerInterface;

// The adapter list the window sees, and what an address change does to it.
class FakeAdapters : public NetworkAdapters
{
public:
    QList<NetworkAdapter> adapters;
    QStringList changes; // "adapter address mask" of each change asked for
    std::function<void()> onChange;

    QList<NetworkAdapter> list() override { return adapters; }
    void setStaticAddress(const QString &adapter, const QString &address, const QString &mask, int) override
    {
        changes << QStringList{adapter, address, mask}.join(QLatin1Char(' '));
        if (onChange)
            onChange();
    }
};

// Closes each box the program opens, remembering its text; answers questions
// with `answer`. While `hold` is set a box stays open and `whileOpen` runs in
// its event loop; it ends by clearing `hold`.
class Boxes : public QObject
{
public:
    Boxes();
    QStringList texts;
    QStringList titles;
    bool hold = false;
    bool answerYes = false;
    std::function<void()> whileOpen;

private:
    void poll();
    QTimer m_timer;
    QObjectList m_seen;
};

// A device (or a stranger) on the wire, played in the test's own event loop:
// every wait lets the server run, and every wait is bounded.
class Device
{
public:
    Device(const QString &host = QStringLiteral("127.0.0.1"));
    void send(const QByteArray &request);
    // Exactly `count` bytes, or what came before the time ran out.
    QByteArray take(int count);
    bool closedByServer();
    QTcpSocket socket;
};

// Bytes that differ from block to block and position to position.
QByteArray pattern(int length, int seed);
// The test's own image file (each test executable has a folder of its own).
void writeImage(const QByteArray &bytes);
// The colour a widget's text shows in: "green", "red", "blue" or "black".
QString colourOf(QWidget *widget);
// Runs a program to its end (10 s at most); its exit status, or -1.
int runProgram(const QString &program, const QStringList &arguments, QString *output = nullptr);
// Whether anything listens on port 10013, found without connecting.
bool portListening();
// The debug lines the program has written since the start.
QStringList &debugLines();

// A window and the devices that meet it, driven by a script whose steps read
// as what the operator and the devices do (see session.cpp).
class Session
{
public:
    Session();
    ~Session();
    // Runs the steps separated by ";"; fails the test at the first step that
    // does not go as written.
    void run(const QString &script);
    // What the window shows: "message", "message.colour", "status", "bar",
    // "serverip", "clientip", "step2" ... (see session.cpp).
    QString show(const QString &what);
    // Runs `script`, then compares each "what=value" of `checks`.
    void verify(const QString &script, const QStringList &checks);

    FakeAdapters adapters;
    std::unique_ptr<ServerInterface> window;
    Boxes boxes;

private:
    void step(const QString &words);
    void runUntilRelease();
    QStringList m_steps;
    int m_next = 0;
    QMap<QString, std::shared_ptr<Device>> m_devices;
    QMap<QString, QByteArray> m_told;
    QStringList m_asked;
    QStringList m_links;
    QByteArray m_file, m_loaded;
    bool m_held = false;
    int m_seed = 0;
    std::unique_ptr<QTcpServer> m_portHolder;
    NetworkAdapters *m_adapters = nullptr;
};

#endif // SESSION_H
