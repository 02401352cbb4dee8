#ifndef DEVICE_H
#define DEVICE_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTextStream>
#include <QVector>

// What the emulated device does, including the faults it can stage.
struct DeviceOptions
{
    QString host = QStringLiteral("127.0.0.1");
    QString from; // the local address to connect from; empty: any
    quint16 port = 10013;
    int timeoutMs = 5000; // bound on every single wait
    QString expectPath; // verify the image against this file
    QString outputPath; // keep the received image here
    QString timingsPath; // per-block turnaround in microseconds, one a line
    QList<QByteArray> extraRequests; // sent after connecting, before "updata"
    int replyWaitMs = 300; // how long to watch for an answer to those
    int delayMs = 0; // pause before each request after the first
    bool disconnectOnConnect = false;
    bool disconnectAfterHeader = false;
    qint64 disconnectAfterBlocks = -1;
    qint64 stopAfterBlocks = -1; // stop asking but keep the connection open
    int holdMs = 3000; // how long to keep it open then
    bool expectRefusal = false; // "updata" must get no answer (no image loaded)
    bool quiet = false;
};

// Exit statuses of the emulator.
enum DeviceStatus {
    DeviceComplete = 0, // the whole image arrived (and matched, with --expect)
    DeviceFailed = 1, // refused, timed out, short, unasked data, mismatch
    DeviceUsage = 2,
    DeviceStoppedAsAsked = 3, // a fault mode ended the transfer early, as asked
};

class Device
{
public:
    Device(const DeviceOptions &options, QTextStream &out, QTextStream &err);
    DeviceStatus run();

private:
    bool connectToServer();
    bool send(const QByteArray &request);
    bool readExactly(char *into, qint64 count, const QString &what, const QString &hint = QString());
    bool nothingUnasked(const QString &after);
    bool receiveImage(qint32 length);
    void pause();
    void closeConnection();
    DeviceStatus verify();
    DeviceStatus compareWithExpected();
    bool summarize(double seconds);
    DeviceStatus fail(const QString &message);

    DeviceOptions m_options;
    QTextStream &m_out;
    QTextStream &m_err;
    class QTcpSocket *m_socket = nullptr;
    int m_requestsSent = 0;
    QByteArray m_image;
    QByteArray m_filler;
    qint64 m_blocks = 0;
    QVector<qint64> m_turnaroundNs;
};

// Turns "\n", "\r", "\t", "\0", "\\" and "\xHH" in a request given on the
// command line into their bytes.
QByteArray unescapeRequest(const QString &text);

#endif // DEVICE_H
