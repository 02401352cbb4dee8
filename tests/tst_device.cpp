// The protocol as devices see it on the wire, and what the window shows of it;
// the device emulator's verdicts; a bounded random walk checked against a model
// of the protocol (TCPSERVER_FUZZ_SEED and TCPSERVER_FUZZ_STEPS vary it).
#include "support/session.h"

#include "image/imagefile.h"
#include "window/serverinterface.h"

#include <QRandomGenerator>
#include <QTest>

class DeviceTest : public QObject
{
    Q_OBJECT

private slots:
    void conversations_data();
    void conversations() { runRow(); }
    void randomWalk();
};

void DeviceTest::conversations_data()
{
    scriptColumns();
    const QString flash = "image 3000; download; A connect; A updata len; ", whole = "A ok 0; A ok 1; A ok 2; A close";
    const QString complete = "message=Download complete (green)", refusal = "Didn't click 'Download' button to download the data.";
    row("a whole image, then the device closes: complete",
        "image 2500; download; A connect; A updata len; A ok 0; A ok 1; A ok 2; A ok -; A close",
        complete + " | status=Reading data is complete...Download complete | bar=100 | "
                   "step3=green | step4=green | clientip=127.0.0.1 | boxes= | clientinput=updata ok ok ok ok ");
    row("an ok before the length request is served; nothing beyond the image; asking the length again starts over",
        "image 2048; download; A connect; A ok 0; A updata len; A ok 0; A ok 1; A ok -; A updata len; A ok 0; A ok 1; A close",
        complete);
    row("only whole requests are answered, up to a zero byte",
        "image 100; download; A connect; A updata%0A -; A OK -; A okok -; A updata%00junk len; A ok%00 0; A close", complete);
    row("an empty image is announced as such and has no block", "image 0; download; A connect; A updata len; A ok -; A updata len",
        "status=Reading data is complete...... | step2=green");
    row("asking before Download is refused and the device no longer served",
        "A connect; A updata refused; B connect; A closed; B updata refused", "boxes=" + refusal + "|" + refusal + " | step2=red");
    row("one refusal box at a time; a newcomer meanwhile replaces the asker",
        "A connect; hold; A updata refused; B connect; B updata refused; A alive; release; A closed", "boxes=" + refusal);
    row("a device that stops asking is closed and the operator told",
        "watch 100; " + flash + "A ok 0; stall; A closed; B connect; B updata refused",
        "boxes=Network interruption, please restart TcpServer.|" + refusal + " | step4=red");
    row("watch ticks that come early are no stall", "watch 60000; " + flash + "A ok 0; tick; tick; tick; A ok 1; A ok 2; A close",
        complete + " | boxes=");
    row("a newcomer once the length was told is closed; the device goes on", flash + "B refused; " + whole, complete);
    row("a newcomer before anyone asked replaces the earlier connection",
        "image 3000; download; A connect; B connect; A closed; B updata len; B ok 0; B ok 1; B ok 2; B close", complete);
    row("a connection that closes without asking leaves the image loaded",
        "image 3000; download; B connect; B close; A connect; A updata len; " + whole, complete);
    row("a device that leaves mid-transfer ends it and the image with it", flash + "A ok 0; A close; B connect; B updata refused",
        "message=Downloading... (black) | bar=33 | boxes=" + refusal);
    row("an IPv6 device is shown by its whole address", "image 10; download; A connect ::1; A updata len", "clientip=::1");
    // The bar shows the sum of the steps so far (100 / blocks), truncated, once it exceeds 1.
    auto blocks = [](int count, int asked) {
        QString script = QStringLiteral("image %1; download; A connect; A updata len").arg(count * 1024 - 7);
        for (int block = 0; block < asked; ++block)
            script += QStringLiteral("; A ok %1").arg(block);
        return script;
    };
    row("3 blocks: the bar shows 66 after two", blocks(3, 2), "bar=66");
    row("12 blocks: the sum falls short, 99 after all twelve", blocks(12, 12), "bar=99");
    row("100 blocks: the bar shows 1 after the first", blocks(100, 1), "bar=1");
    row("1000 blocks: nothing shows after ten", blocks(1000, 10), "bar=0");
    row("1000 blocks: the bar moves once past 1 %, after eleven", blocks(1000, 11), "bar=1");
    const QString image = "image 70000; download; ";
    row("the emulator verifies the whole image", image + "emulator 0 verified --expect IMAGE", "");
    row("the emulator finds another image than expected", image + "image 70000; emulator 1 MISMATCH --expect IMAGE", "");
    row("the emulator fails when no image is loaded", "image none; download; emulator 1 loaded", "");
    row("the emulator asks before Download and is refused", "emulator 0 refused --expect-refusal --timeout 800", "");
    row("the emulator stops asking; the tool ends the transfer", "watch 100; " + image + "emulator 3 stopped --stop-after 2",
        "boxes=Network interruption, please restart TcpServer.");
    row("the emulator checks its files before connecting", image + "emulator 2 /nonexistent --expect /nonexistent; "
        "emulator 2 /nonexistent/x --output /nonexistent/x; A connect; A updata len", "");
    row("the emulator's usage errors and version", "emulator 2 Unknown --bogus; emulator 2 Missing --port; "
        "emulator 0 device-emulator --version", "");
    row("the (hidden) ClientInput pane stops at its limit", "cap 12; " + flash + whole, complete + " | clientinput=updata ok ");
}

// Each step is one of the session's, chosen at random; the model says what
// must come back, and the session checks that it does and nothing else.
void DeviceTest::randomWalk()
{
    const quint32 seed = quint32(qEnvironmentVariableIntValue("TCPSERVER_FUZZ_SEED")) ^ 20261206u;
    const int steps = qEnvironmentVariableIsSet("TCPSERVER_FUZZ_STEPS") ? qEnvironmentVariableIntValue("TCPSERVER_FUZZ_STEPS") : 3000;
    QRandomGenerator random(seed);
    Session session;
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
        if (action < 4 || !held) { // Download, sizes near block boundaries often
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

QTEST_MAIN(DeviceTest)
#include "tst_device.moc"
