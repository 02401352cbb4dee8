// One program that serves the device per session: the lock.
#include "support/testing.h"

#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(SingleInstance::Claim)

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void lockThatNamesNoLiveProgramIsTakenOver_data();
    void lockThatNamesNoLiveProgramIsTakenOver();
};

void SingleInstanceTest::lockThatNamesNoLiveProgramIsTakenOver_data()
{
    QTest::addColumn<QByteArray>("lock"); // "folder": a folder in its place
    QTest::addColumn<SingleInstance::Claim>("claim");
    QTest::addColumn<QString>("note");
    const QByteArray host = QSysInfo::machineHostName().toUtf8();
    QTest::newRow("empty") << QByteArray("") << SingleInstance::Taken << "";
    QTest::newRow("garbage") << QByteArray("\x01\x02garbage\n\n") << SingleInstance::Taken << "";
    QProcess ended; // a process of this test's, come and gone
    ended.start(QCoreApplication::applicationFilePath(), {"-functions"});
    ended.waitForFinished();
    QTest::newRow("a process that has ended") << QByteArray::number(ended.processId()) + "\nTcpServer\n" + host + "\n"
                                              << SingleInstance::Taken << "";
    QTest::newRow("another host")
            << QByteArray("1\ntcpserver-station\nbench-7\n") << SingleInstance::HeldElsewhere
            << "left by tcpserver-station on the host bench-7; if no TcpServer runs there, remove it";
    QTest::newRow("a folder") << QByteArray("folder") << SingleInstance::InTheWay
                              << "is not TcpServer's lock but stands where it belongs: remove it";
}

void SingleInstanceTest::lockThatNamesNoLiveProgramIsTakenOver()
{
    QFETCH(QByteArray, lock);
    QFETCH(SingleInstance::Claim, claim);
    QFETCH(QString, note);
    QTemporaryDir folder;
    const QString path = folder.filePath("TcpServer.lock");
    if (lock == "folder")
        QVERIFY(QDir().mkpath(path));
    else
        QVERIFY(writeFile(path, lock));
    SingleInstance instance(path);
    QCOMPARE(instance.claim(), claim);
    QVERIFY2(note.isEmpty() ? instance.note().isEmpty() : instance.note().endsWith(note), qPrintable(instance.note()));
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
