// A bounded random walk over everything a device or a stranger can do to the
// server: loads, connections, disconnections and arbitrary requests. After
// every step: a length header always equals the image's length; every block
// is 1024 bytes and equals the image at the next position, zero after its
// end; a client gets an answer only to its own "updata" or "ok"; nothing
// crashes. TCPSERVER_FUZZ_SEED and TCPSERVER_FUZZ_STEPS vary the walk.
#include "support/fakeadapters.h"
#include "support/imagefiles.h"
#include "support/modalboxes.h"
#include "support/scriptedclient.h"

#include "server/tcpserver.h"
#include "window/serverinterface.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

#include <memory>
#include <vector>

namespace {

// What the server makes of one read.
QByteArray requestOf(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.left(zero);
}

// Whatever arrives after a request: waits until a block's worth came or the
// line has been quiet for a moment.
QByteArray answerTo(ScriptedClient &client)
{
    QElapsedTimer quiet;
    quiet.start();
    qint64 seen = 0;
    int rounds = 0;
    const QDeadlineTimer deadline(2000);
    // A few turns of the loop at least: on a busy machine 8 ms may pass before
    // the server has had its turn.
    while (!deadline.hasExpired() && client.socket.bytesAvailable() < 1024 && (quiet.elapsed() < 8 || rounds < 4)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        ++rounds;
        if (client.socket.bytesAvailable() != seen) {
            seen = client.socket.bytesAvailable();
            quiet.restart();
        }
    }
    return client.socket.readAll();
}

QByteArray randomRequest(QRandomGenerator &random)
{
    static const QList<QByteArray> known = {
        "updata", "ok", "ok", "ok", "OK", "UPDATA", "updata\n", "ok\r\n", QByteArray("updata\0xyz", 10),
        QByteArray("ok\0", 3), "okok", "updataok", "up", "data", " ok", "o", QByteArray("\0ok", 3)};
    if (random.bounded(4) != 0)
        return known.at(random.bounded(known.size()));
    QByteArray bytes(1 + random.bounded(40), '\0');
    for (char &byte : bytes)
        byte = char(random.bounded(random.bounded(3) ? 128 : 256));
    return bytes;
}

} // namespace

class FuzzTest : public QObject
{
    Q_OBJECT

private slots:
    void randomWalk();
};

void FuzzTest::randomWalk()
{
    const quint32 seed = qEnvironmentVariableIsSet("TCPSERVER_FUZZ_SEED")
                             ? quint32(qEnvironmentVariableIntValue("TCPSERVER_FUZZ_SEED"))
                             : 20261206u;
    const int steps = qEnvironmentVariableIsSet("TCPSERVER_FUZZ_STEPS")
                          ? qEnvironmentVariableIntValue("TCPSERVER_FUZZ_STEPS")
                          : 4000;
    QRandomGenerator random(seed);
    FakeAdapters adapters;
    ServerInterface w(&adapters);
    w.show();
    ModalBoxes boxes;

    QByteArray image;       // what the last Download handed over
    int served = 0;         // blocks sent since then, to whichever connection
    std::vector<std::unique_ptr<ScriptedClient>> clients;
    int requests = 0, headers = 0, blocks = 0, loads = 0, connects = 0, drops = 0;
    const QDeadlineTimer budget(120000);

    for (int step = 0; step < steps && !budget.hasExpired(); ++step) {
        const int action = random.bounded(100);
        if (action < 3) {
            // The operator loads an image; sizes near block boundaries often.
            const int length = random.bounded(3) == 0 ? int(random.bounded(4)) * 1024 + int(random.bounded(3)) - 1
                                                      : int(random.bounded(12 * 1024));
            image = patternImage(qMax(length, 0), step);
            writeTestImage(image);
            QTest::mouseClick(w.m_downloadButton, Qt::LeftButton);
            served = 0;
            ++loads;
        } else if ((action < 8 && clients.size() < 3) || clients.empty()) {
            clients.emplace_back(new ScriptedClient);
            ++connects;
        } else if (action < 11) {
            const size_t which = random.bounded(int(clients.size()));
            clients[which]->close();
            clients.erase(clients.begin() + long(which));
            ++drops;
        } else {
            ScriptedClient &client = *clients[random.bounded(int(clients.size()))];
            const QByteArray request = randomRequest(random);
            client.send(request);
            ++requests;
            const QByteArray answer = answerTo(client);
            const QByteArray asked = requestOf(request);
            const QString where = QStringLiteral("seed %1, step %2, request %3").arg(seed).arg(step).arg(QString::fromLatin1(request.toHex()));
            if (answer.size() == 4) {
                QVERIFY2(asked == "updata", qPrintable("a header nobody asked for: " + where));
                QCOMPARE(qFromLittleEndian<qint32>(answer.constData()), image.size());
                ++headers;
            } else if (answer.size() == 1024) {
                QVERIFY2(asked == "ok", qPrintable("a block nobody asked for: " + where));
                QByteArray expected = image.mid(served * 1024, 1024);
                QVERIFY2(!expected.isEmpty(), qPrintable("a block from beyond the image: " + where));
                expected += QByteArray(1024 - expected.size(), '\0');
                QVERIFY2(answer == expected, qPrintable("a wrong block: " + where));
                ++served;
                ++blocks;
            } else {
                QVERIFY2(answer.isEmpty(), qPrintable(QStringLiteral("%1 stray bytes: ").arg(answer.size()) + where));
            }
        }
        // Nobody who did not just ask may have received anything.
        for (const auto &client : clients)
            QVERIFY2(client->socket.bytesAvailable() == 0, qPrintable(QStringLiteral("unasked bytes at step %1").arg(step)));
        // Connections the server turned away are of no more use.
        clients.erase(std::remove_if(clients.begin(), clients.end(),
                                     [](const std::unique_ptr<ScriptedClient> &c) { return !c->isConnected(); }),
                      clients.end());
    }
    qInfo("fuzz seed %u: %d requests, %d headers and %d blocks checked, %d loads, %d connects, %d drops, %d boxes",
          seed, requests, headers, blocks, loads, connects, drops, boxes.count());
    QVERIFY(requests > steps / 2 || budget.hasExpired());
    QVERIFY(headers > 0 && blocks > 0);
}

QTEST_MAIN(FuzzTest)
#include "tst_fuzz.moc"
