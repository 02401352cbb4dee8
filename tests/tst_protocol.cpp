// The protocol as devices see it on the wire and as the server reports it, with no window: conversations,
// the watch, the device emulator's verdicts, and a bounded random walk checked against a model of the
// protocol (TCPSERVER_FUZZ_SEED and TCPSERVER_FUZZ_STEPS vary it).
#include "support/session.h"

#include "server/tcpserver.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void conversations_data();
    void conversations() { runRow(Target::Core); }
    void randomWalk();
    void idleConnectionsAreProbed();
};

void ProtocolTest::conversations_data()
{
    scriptColumns();
    const QString flash = "image 3000; download; A connect; A updata len; ", whole = "A ok 0; A ok 1; A ok 2; A close";
    row("a whole image, then the device closes: complete",
        "image 2500; download; A connect; A updata len; A ok 0; A ok 1; A ok 2; A ok -; A close",
        "ended=complete | progress=100 | connected=127.0.0.1 | echo=updata ok ok ok ok | sent=3 blocks, 2500 bytes");
    row("an ok before the length request is served; nothing beyond the image; asking the length again starts over",
        "image 2048; download; A connect; A ok 0; A updata len; A ok 0; A ok 1; A ok -; A updata len; A ok 0; A ok 1; A close",
        "ended=complete");
    row("only whole requests are answered, up to a zero byte",
        "image 100; download; A connect; A updata%0A -; A OK -; A okok -; A updata%00junk len; A ok%00 0; A close",
        "ended=complete");
    row("an empty image is announced as such and has no block",
        "image 0; download; A connect; A updata len; A ok -; A updata len", "echo=updata ok updata | ended=");
    row("asking before an image is refused and the device no longer served",
        "A connect; A updata refused; B connect; A closed; B updata refused", "ended=refused,refused");
    row("a device that stops asking is closed", "watch 100; " + flash + "A ok 0; stall; A closed; B connect; B updata refused",
        "ended=stalled,refused");
    row("watch ticks that come early are no stall", "watch 60000; " + flash + "A ok 0; tick; tick; tick; A ok 1; A ok 2; A close",
        "ended=complete");
    row("a device that has the length and asks for nothing is closed; the next one flashes",
        "watch 100; " + flash + "stall; A closed; image 3000; download; B connect; B updata len; B ok 0; B ok 1; B ok 2; B close",
        "ended=stalled,complete");
    row("a device that sends only part of a request is closed", "watch 100; " + flash + "A ok 0; A ok 1; A o -; stall; A closed",
        "ended=stalled");
    row("a newcomer once the length was told is closed; the device goes on", flash + "B refused; " + whole,
        "ended=turned away 127.0.0.1,complete");
    row("a device that leaves mid-transfer ends it and the image with it", flash + "A ok 0; A close; B connect; B updata refused",
        "ended=closed,refused | progress=33 | sent=1 blocks, 1024 bytes");
    row("a new image mid-transfer ends that flash; the device starts over",
        flash + "A ok 0; image 2000; download; A closed; B connect; B updata len; B ok 0; B ok 1; B close",
        "ended=restarted,complete");
    row("the program stops a flash: its connection is closed", flash + "A ok 0; stop; A closed", "ended=stopped");
    row("an IPv6 device is shown by its whole address", "image 10; download; A connect ::1; A updata len", "connected=::1");
    // The bar shows the sum of the steps so far (100 / blocks), truncated, once it exceeds 1.
    auto blocks = [](int count, int asked) {
        QString script = QStringLiteral("image %1; download; A connect; A updata len").arg(count * 1024 - 7);
        for (int block = 0; block < asked; ++block)
            script += QStringLiteral("; A ok %1").arg(block);
        return script;
    };
    row("12 blocks: the sum falls short, 99 after all twelve", blocks(12, 12), "progress=99");
    row("100 blocks: the bar shows 1 after the first", blocks(100, 1), "progress=1");
    row("1000 blocks: the bar moves once past 1 %, after eleven", blocks(1000, 11), "progress=1");
    const QString image = "image 70000; download; ";
    row("the emulator verifies the whole image", image + "emulator 0 verified --expect IMAGE", "ended=complete");
    row("the emulator finds another image than expected", image + "image 70000; emulator 1 MISMATCH --expect IMAGE", "");
    row("the emulator fails when the image is empty", "image 0; download; emulator 1 loaded", "");
    row("the emulator asks before an image and is refused", "emulator 0 refused --expect-refusal --timeout 800",
        "ended=refused");
    row("the emulator waits for a length that never comes, and says why", "emulator 1 Download --timeout 300", "");
    row("the emulator stops asking; the server ends the transfer", "watch 100; " + image + "emulator 3 stopped --stop-after 2",
        "ended=stalled");
    row("the emulator checks its files before connecting", image + "emulator 2 /nonexistent --expect /nonexistent; "
        "emulator 2 /nonexistent/x --output /nonexistent/x; A connect; A updata len", "");
}

// Each step is one of the session's, chosen at random; the model says what
// must come back, and the session checks that it does and nothing else.
void ProtocolTest::randomWalk()
{
    const quint32 seed = quint32(qEnvironmentVariableIntValue("TCPSERVER_FUZZ_SEED")) ^ 20261206u;
    const int steps = qEnvironmentVariableIsSet("TCPSERVER_FUZZ_STEPS") ? qEnvironmentVariableIntValue("TCPSERVER_FUZZ_STEPS") : 3000;
    QRandomGenerator random(seed);
    Session session(Target::Core);
    session.run("watch 3600000"); // timing is no part of the model
    const QStringList known = {"updata", "ok", "ok", "ok", "OK", "updata%0A", "ok%0D%0A", "updata%00x", "ok%00",
                               "okok", "up", "%00ok", "%20ok"};
    // The model: the image held, the current device and where it stands.
    int length = 0, next = 0, devices = 0, answers = 0;
    bool held = false, lengthTold = false, downloading = false, exhausted = false, asked = false;
    QString current, script;
    for (int step = 0; step < steps && !QTest::currentTestFailed(); ++step) {
        const int action = random.bounded(100);
        const bool running = !current.isEmpty() && (lengthTold || downloading);
        if (action < 4 || !held) { // a new image, sizes near block boundaries often
            length = random.bounded(2) ? qMax(0, random.bounded(4) * 1024 + random.bounded(3) - 1) : random.bounded(9000);
            script = QStringLiteral("image %1; download").arg(length) + (running ? "; " + current + " closed" : "");
            if (running)
                current.clear(), lengthTold = false;
            held = true, next = 0, exhausted = downloading = false;
        } else if (action < 10 || current.isEmpty()) { // a device connects: turned away, or taken in place of one
            const QString newcomer = QStringLiteral("D%1").arg(++devices);
            script = newcomer + (running ? " refused" : " connect") + (running || current.isEmpty() ? "" : "; " + current + " closed");
            if (!running)
                current = newcomer, lengthTold = asked = false;
        } else if (action < 14) { // the device leaves
            script = current + " close";
            current.clear();
            held = held && !asked, lengthTold = downloading = false;
        } else { // it asks, or sends anything
            QByteArray request = QByteArray::fromPercentEncoding(known.at(random.bounded(known.size())).toLatin1());
            if (random.bounded(5) == 0) {
                request.resize(1 + random.bounded(30));
                for (char &byte : request)
                    byte = char(random.bounded(256));
            }
            const QByteArray text = request.left(request.indexOf('\0') < 0 ? request.size() : request.indexOf('\0'));
            QString due = "-";
            if (text == "updata")
                due = "len", next = 0, lengthTold = asked = true, exhausted = downloading = false;
            else if (text == "ok" && !(exhausted = exhausted || next * 1024 >= length))
                due = QString::number(next++), downloading = true;
            asked = asked || text == "ok";
            answers += due != "-";
            script = current + " " + request.toPercentEncoding() + " " + due;
        }
        session.run(script);
    }
    QVERIFY2(answers > steps / 8 && !QTest::currentTestFailed(), qPrintable(QStringLiteral("seed %1, last step: %2").arg(seed).arg(script)));
}

// A device that vanished without closing (switched off, cable pulled) is
// found by the system's keep-alive probes, seconds after it fell silent.
void ProtocolTest::idleConnectionsAreProbed()
{
#ifndef Q_OS_LINUX
    QSKIP("reads the connection's timers with ss");
#else
    Session session(Target::Core);
    session.run("image 10; download; A connect");
    QProcess ss;
    ss.start("ss", {"-tnoH", "state", "established", QStringLiteral("( sport = :%1 )").arg(session.server()->serverPort())});
    QVERIFY(ss.waitForFinished());
    const QString shown = QString::fromLatin1(ss.readAll());
    // Due within seconds; the system's own default is two hours ("119min").
    QVERIFY2(shown.contains(QRegularExpression("timer:\\(keepalive,[0-9.]+(ms|sec),")), qPrintable(shown));
#endif
}

QTEST_MAIN(ProtocolTest)
#include "tst_protocol.moc"
