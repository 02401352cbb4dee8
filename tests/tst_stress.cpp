// Many flashes in one window, and a bounded random walk over everything the
// operator, a device or a stranger can do, checked against a model of the
// protocol: every answer is the one due and arrives, nothing else arrives.
// TCPSERVER_FUZZ_SEED and TCPSERVER_FUZZ_STEPS vary the walk.
#include "support/session.h"

#include "image/imagefile.h"
#include "server/protocol.h"
#include "server/tcpserver.h"
#include "window/serverinterface.h"

#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>

#include <memory>
#include <vector>

class StressTest : public QObject
{
    Q_OBJECT

private slots:
    void flashesInARow();
    void randomWalk();
};

void StressTest::flashesInARow()
{
    Session session;
    for (int flash = 0; flash < 60 && !QTest::currentTestFailed(); ++flash) {
        const int blocks = 1 + flash % 5;
        QString script = QStringLiteral("image %1; download; A connect; A updata len").arg(blocks * 1024 - flash);
        for (int block = 0; block < blocks; ++block)
            script += QStringLiteral("; A ok %1").arg(block);
        session.verify(script + "; A close", {"message=Download complete"});
    }
}

void StressTest::randomWalk()
{
    const quint32 seed = quint32(qEnvironmentVariableIntValue("TCPSERVER_FUZZ_SEED")) ^ 20261206u;
    const int steps = qEnvironmentVariableIsSet("TCPSERVER_FUZZ_STEPS") ? qEnvironmentVariableIntValue("TCPSERVER_FUZZ_STEPS") : 1500;
    QRandomGenerator random(seed);
    TcpServer::watchPeriodMsec = 3600 * 1000; // timing is no part of the model
    Session session;
    session.run(QStringLiteral("start"));
    QTextDocument *echo = session.window->m_clientInputBrowser->document();

    // The model: the image held, the current connection and where it stands.
    QByteArray image;
    bool held = false, lengthTold = false, downloading = false, exhausted = false, asked = false;
    int next = 0;
    std::unique_ptr<Device> current;
    const QList<QByteArray> known = {"updata", "ok", "ok", "ok", "OK", "updata\n", "ok\r\n", QByteArray("updata\0x", 8),
                                     QByteArray("ok\0", 3), "okok", "up", QByteArray("\0ok", 3), " ok"};
    auto closedByServer = [&](std::unique_ptr<Device> &device) {
        QVERIFY2(device->closedByServer() && device->socket.bytesAvailable() == 0, "not closed, or sent more");
        device.reset();
    };
    for (int step = 0; step < steps && !QTest::currentTestFailed(); ++step) {
        const QString where = QStringLiteral("seed %1 step %2").arg(seed).arg(step);
        const int action = random.bounded(100);
        const bool running = current && (lengthTold || downloading);
        if (action < 4 || !held) {
            const int length = random.bounded(2) ? int(random.bounded(4)) * 1024 + int(random.bounded(3)) - 1
                                                 : int(random.bounded(9000));
            image = pattern(qMax(length, 0), step);
            writeImage(image);
            QTest::mouseClick(session.window->m_downloadButton, Qt::LeftButton);
            if (running)
                closedByServer(current);
            held = true;
            next = 0;
            exhausted = downloading = false;
        } else if (action < 10) {
            const int connects = debugLines().count("Client connect!");
            std::unique_ptr<Device> newcomer(new Device);
            if (running) {
                closedByServer(newcomer);
                continue;
            }
            QVERIFY2(QTest::qWaitFor([&] { return debugLines().count("Client connect!") > connects; }), qPrintable(where));
            if (current)
                closedByServer(current);
            current = std::move(newcomer);
            lengthTold = asked = false;
        } else if (action < 14 && current) {
            const int ends = debugLines().count("Disconnected!");
            current->socket.disconnectFromHost();
            current.reset();
            QVERIFY2(QTest::qWaitFor([&] { return debugLines().count("Disconnected!") > ends; }), qPrintable(where));
            held = held && !asked;
            lengthTold = downloading = false;
        } else if (current) {
            QByteArray request = known.at(random.bounded(known.size()));
            if (random.bounded(5) == 0) {
                request = QByteArray(1 + random.bounded(30), '\0');
                for (char &byte : request)
                    byte = char(random.bounded(256));
            }
            const QString text = QString::fromLatin1(request.left(request.indexOf('\0') < 0 ? request.size() : request.indexOf('\0')));
            QByteArray due;
            if (text == "updata") {
                due = protocol::lengthHeader(image.size());
                next = 0;
                lengthTold = asked = true;
                exhausted = downloading = false;
            } else if (text == "ok") {
                asked = true;
                if (!exhausted && next * 1024 < image.size()) {
                    due = image.mid(next++ * 1024, 1024);
                    due.append(QByteArray(1024 - due.size(), '\0'));
                    downloading = true;
                } else {
                    exhausted = true;
                }
            }
            const int echoed = echo->characterCount();
            current->send(request);
            if (!due.isEmpty())
                QVERIFY2(current->take(due.size()) == due, qPrintable(where + ": not the answer due to " + request.toHex()));
            // Also what asks nothing is read (and echoed) before the next request goes.
            QVERIFY2(QTest::qWaitFor([&] { return echo->characterCount() > echoed; }), qPrintable(where + ": not read"));
        }
    }
    QVERIFY(!current || current->socket.bytesAvailable() == 0);
}

QTEST_MAIN(StressTest)
#include "tst_stress.moc"
