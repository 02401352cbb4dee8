#ifndef TESTING_H
#define TESTING_H

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QTcpSocket>

#include "adapter/adapternote.h"
#include "adapter/networkadapters.h"

#include <functional>

// What the suites share, none of it a window's.

// Runs the event loop until done() or the time is up; done() then.
bool waitFor(const std::function<bool()> &done, int ms = 5000);
// Bytes that differ from block to block, the same for the same seed.
QByteArray pattern(int length, int seed);
// Writes the file, its folder too.
bool writeFile(const QString &path, const QByteArray &bytes);
// Runs a program to its end (10 s at most): its exit status, or -1; or what
// it wrote to its standard output.
int runProgram(const QString &program, const QStringList &arguments);
QByteArray runOutput(const QString &program, const QStringList &arguments);
// Whether this test runs in a network namespace of its own, where it may make
// network interfaces (tests/isolated.sh makes one where the machine allows).
bool inOwnNetworkNamespace();
// Whether anything listens on the port, found without connecting (which a
// server would count as a device).
bool portListened(quint16 port);
// The length header a device expects for an image of this many bytes.
QByteArray lengthHeaderFor(int length);
// Block number index of the image, as it goes out: zero bytes after its end.
QByteArray blockOf(const QByteArray &image, int index);

// The adapter list a program sees, and what an address change does to it.
struct FakeAdapters : NetworkAdapters
{
    QList<NetworkAdapter> adapters;
    QStringList changes; // "ADAPTER ADDRESS MASK", each change asked for
    std::function<void()> onChange;
    QList<AdapterNote> restored; // each giving back asked for
    std::function<void()> onRestore;
    QList<NetworkAdapter> list() override { return adapters; }
    void setStaticAddress(const QString &adapter, const QString &address, const QString &mask, int) override;
    // As the adapter's addresses show it.
    AdapterNote settingsOf(const QString &adapter) override;
    void restoreSettings(const AdapterNote &note, int) override;
};

NetworkAdapter adapter(const QString &name, const QStringList &addresses);

// A device on the wire, driven by the test's own event loop.
class TestDevice
{
public:
    TestDevice(const QString &host, quint16 port);
    bool isConnected() const;
    // Sends one request, as a segment of its own (as the device sends them).
    void send(const QByteArray &request);
    // Exactly count bytes, or what came within five seconds.
    QByteArray take(int count);
    // Waits for the server to close the connection, five seconds at most.
    bool closedByServer();
    void close();
    // Gone at once: a reset, as a device that is switched off or crashes.
    void reset();

    QTcpSocket socket;
};

// What a device gets for one request: the length header, one block, or
// nothing (the next answer then comes first).
struct Answer
{
    enum Kind { Length, Block, Nothing };
    Kind kind = Nothing;
    int block = 0;
};
Answer length();
Answer block(int index);
Answer nothing();

struct Exchange
{
    QByteArray request;
    Answer answer;
};
using Exchanges = QList<Exchange>;
Q_DECLARE_METATYPE(Exchanges)

// Sends each request and checks that the device gets exactly its answer from
// the image; QVERIFY's failure names the exchange that went otherwise. After a
// request that gets nothing, read() waits until the server has read it, so
// that the next one is a request of its own.
void converse(TestDevice &device, const QByteArray &image, const Exchanges &exchanges,
              const std::function<bool()> &read = nullptr);

#endif // TESTING_H
