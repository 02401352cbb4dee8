// The program as a technician starts it.
#include "support/session.h"

#include "window/application.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class ProgramTest : public QObject
{
    Q_OBJECT

private slots:
    void oneInstancePerSession();
    void noDisplayIsOneClearLine();
};

void ProgramTest::oneInstancePerSession()
{
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(QStringLiteral(TCPSERVER_PROGRAM), QStringList());
    QTRY_VERIFY_WITH_TIMEOUT(portListening(), 10000);

    Boxes boxes;
    const QString lock = runtime.filePath(QStringLiteral("TcpServer.lock"));
    QVERIFY(!SingleInstance(lock).claim());
    QCOMPARE(boxes.texts, QStringList{"TcpServer is already running. Use the TcpServer window that is already "
                                      "open, or close it before starting TcpServer again."});
    // One that crashed stands in nobody's way.
    first.kill();
    QVERIFY(first.waitForFinished(5000));
    QVERIFY(SingleInstance(lock).claim());
}

void ProgramTest::noDisplayIsOneClearLine()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TCPSERVER_PROGRAM), QStringList());
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    QVERIFY(program.readAllStandardError().contains("TcpServer: there is no display to show its window on."));
}

QTEST_MAIN(ProgramTest)
#include "tst_program.moc"
