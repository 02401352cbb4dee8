#ifndef TESTING_H
#define TESTING_H

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QTcpSocket>

#include <functional>

// Bytes that differ from block to block, the same for the same seed.
QByteArray pattern(int length, int seed);
bool writeFile(const QString &path, const QByteArray &bytes);
// Runs a program to its end (10 s at most): its exit status or its output.
int runProgram(const QString &program, const QStringList &arguments);
QByteArray runOutput(const QString &program, const QStringList &arguments);
// Whether tests/isolated.sh gave this test a network namespace of its own.
bool inOwnNetworkNamespace();
// Found without connecting, which a server would count as a device.
bool portListened(quint16 port);
QByteArray lengthHeaderFor(int length);
// Zero bytes after the image's end.
QByteArray blockOf(const QByteArray &image, int index);

class TestDevice
{
public:
    TestDevice(const QString &host, quint16 port);
    bool isConnected() const;
    void send(const QByteArray &request);
    QByteArray take(int count);
    bool closedByServer();
    void close();

    QTcpSocket socket;

private:
    template<typename Signal>
    bool waitUntil(const std::function<bool()> &done, Signal signal);
};

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

// Sends each request and checks that it gets exactly its answer; after one
// that gets nothing, read() waits until the server has read it. Empty where
// every exchange went so; else the first that did not, in a sentence.
QString converse(TestDevice &device, const QByteArray &image, const Exchanges &exchanges,
                 const std::function<bool()> &read = nullptr);
// The conversation, or the test fails there with what went wrong.
#define CONVERSE(...)                                                                                                  \
    do {                                                                                                               \
        const QString conversed = converse(__VA_ARGS__);                                                               \
        QVERIFY2(conversed.isEmpty(), qPrintable(conversed));                                                          \
    } while (false)

#endif // TESTING_H
