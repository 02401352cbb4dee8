// The device emulator's verdicts, which a technician's dry run relies on.
#include "support/session.h"

#include "image/imagefile.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class EmulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void verdicts_data();
    void verdicts();
};

void EmulatorTest::verdicts_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    const QString image = "image 70000; download";
    QTest::newRow("the whole image, verified") << image << QStringList{"--expect", "IMAGE"} << 0
                                               << "verified: the image matches byte for byte";
    QTest::newRow("another image than expected") << image << QStringList{"--expect", "OTHER"} << 1 << "MISMATCH";
    QTest::newRow("no image loaded: length 0") << "image none; download" << QStringList{} << 1
                                               << "error: TcpServer has no image loaded";
    QTest::newRow("asking before Download is refused") << "start" << QStringList{"--expect-refusal", "--timeout", "800"}
                                                       << 0 << "refused as expected";
    QTest::newRow("the device stops asking; the tool ends the transfer")
        << "watch 100; " + image << QStringList{"--stop-after", "2", "--hold", "5000"} << 3
        << "stopped asking after 2 blocks";
    QTest::newRow("an --expect file missing, found before connecting")
        << image << QStringList{"--expect", "/nonexistent"} << 2 << "error: cannot read /nonexistent";
    QTest::newRow("an --output folder missing, found before connecting")
        << image << QStringList{"--output", "/nonexistent/x"} << 2 << "error: cannot write /nonexistent/x";
    QTest::newRow("an unknown option") << "start" << QStringList{"--bogus"} << 2 << "error: Unknown option";
    QTest::newRow("an option without its value") << "start" << QStringList{"--port"} << 2 << "error: Missing value";
    QTest::newRow("--version") << "start" << QStringList{"--version"} << 0 << "device-emulator 1.";
}

void EmulatorTest::verdicts()
{
    QFETCH(QString, script);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, says);
    Session session;
    session.run(script);
    QTemporaryDir scratch;
    QFile other(scratch.filePath(QStringLiteral("other.bin")));
    QVERIFY(other.open(QIODevice::WriteOnly) && other.write(pattern(70000, 99)) == 70000);
    other.close();
    arguments.replaceInStrings(QStringLiteral("IMAGE"), imageFilePath());
    arguments.replaceInStrings(QStringLiteral("OTHER"), other.fileName());

    QProcess emulator;
    emulator.setProcessChannelMode(QProcess::MergedChannels);
    emulator.start(QStringLiteral(DEVICE_EMULATOR), arguments);
    // The window serves while the emulator runs.
    const QDeadlineTimer deadline(20000);
    while (emulator.state() != QProcess::NotRunning && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const QString output = QString::fromUtf8(emulator.readAll());
    QVERIFY2(emulator.state() == QProcess::NotRunning && emulator.exitStatus() == QProcess::NormalExit,
             qPrintable(output));
    QVERIFY2(output.contains(says), qPrintable(output));
    QCOMPARE(emulator.exitCode(), status);
}

QTEST_MAIN(EmulatorTest)
#include "tst_emulator.moc"
