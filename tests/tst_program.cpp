// The built program starts, shows its window and listens on port 10013.
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>

class ProgramTest : public QObject
{
    Q_OBJECT

private slots:
    void startsAndListens();
};

void ProgramTest::startsAndListens()
{
    QProcess program;
    program.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TCPSERVER_PROGRAM), QStringList());
    QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));

    bool connected = false;
    QElapsedTimer clock;
    clock.start();
    while (!connected && clock.elapsed() < 20000 && program.state() == QProcess::Running) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), 10013);
        connected = socket.waitForConnected(500);
        if (!connected)
            QTest::qWait(100);
    }
    const bool stillRunning = program.state() == QProcess::Running;
    program.terminate();
    if (!program.waitForFinished(5000)) {
        program.kill();
        program.waitForFinished(5000);
    }
    QVERIFY2(stillRunning, program.readAll().constData());
    QVERIFY2(connected, "nothing accepted a connection on 127.0.0.1 port 10013");
}

QTEST_GUILESS_MAIN(ProgramTest)
#include "tst_program.moc"
