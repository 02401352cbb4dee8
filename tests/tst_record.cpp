// Which image went out and to whom: the flash record.
#include "support/records.h"
#include "support/testing.h"

#include "image/flashimage.h"
#include "record/flashrecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace {

TransferReport report(TransferReport::Ending ending, const QString &device = QStringLiteral("192.168.0.50"))
{
    TransferReport report;
    report.ending = ending;
    report.connection = {1, QStringLiteral("Ethernet"), device};
    report.deviceMac = QStringLiteral("02:00:5e:10:00:01");
    report.server = QStringLiteral("192.168.0.92");
    report.started = QDateTime(QDate(2026, 12, 8), QTime(14, 3, 12, 345)); // local time, as the server gives it
    report.ended = report.started.addMSecs(1500);
    report.elapsedNs = 1500000000;
    report.blocksSent = 3;
    report.bytesSent = 2500;
    return report;
}

} // namespace

class RecordTest : public QObject
{
    Q_OBJECT

private slots:
    void rowsSurviveASpreadsheetReader();
    void rowStartsOnALineOfItsOwn();
    void unusableRecordSaysWhy_data();
    void unusableRecordSaysWhy();
    void anEarlierVersionsRecordIsContinuedBesideIt();
    void whatWaitsIsBoundedByMemory_data();
    void whatWaitsIsBoundedByMemory();
    void partWrittenIsCutBack();
};

// Odd paths come back whole; what looks like a formula is text (OWASP).
void RecordTest::rowsSurviveASpreadsheetReader()
{
    QTemporaryDir folder;
    const QString image = folder.filePath(QString::fromUtf8("=1+1, 'A' 以太网.bin"));
    QVERIFY(writeFile(image, pattern(2500, 1)));
    const QString path = folder.filePath("record/flash-log.csv");
    {
        FlashRecord log(path, "window closed mid-flash");
        QSignalSpy written(&log, &FlashRecord::written);
        TransferReport complete = report(TransferReport::Complete);
        const QString before = QDir::currentPath();
        QDir::setCurrent(folder.path()); // named as typed: relative
        complete.image = FlashImage::load(QFileInfo(image).fileName());
        QDir::setCurrent(before);
        complete.connection.adapter = "=HYPERLINK(\"http://x\")";
        complete.deviceMac = "+1";
        complete.server = "@SUM(1)";
        complete.flashId = QUuid("{6f1c1e5a-8d4b-4c2e-9a77-0b1d2e3f4a5b}");
        complete.station = "bench-1";
        complete.serial = "-SN 0042";
        log.record(complete);
        QVERIFY(written.wait());
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.value(0),
             "\xEF\xBB\xBFstart,end,result,device,device MAC,image,image bytes,image SHA-256,blocks sent,"
             "bytes sent,seconds,MiB/s,adapter,server address,version,flash id,station,serial\r");
    QCOMPARE(QString::fromUtf8(lines.value(1)),
             "2026-12-08T14:03:12.345+01:00,2026-12-08T14:03:13.845+01:00,complete,192.168.0.50,'+1,\"" +
                     QDir::toNativeSeparators(image) +
                     "\",2500,927aa652b8b45524938d13f067b816a23f5be88a03686493c78e701a80e3badc,3,2500,1.500,0.00,\"'="
                     "HYPERLINK(\"\"http://x\"\")\",'@SUM(1)," TCPSERVER_VERSION
                     ",6f1c1e5a-8d4b-4c2e-9a77-0b1d2e3f4a5b,bench-1,'-SN 0042\r");
    // Read back as a spreadsheet does, the fields are what they were.
    const QList<QStringList> rows = readCsv(path);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(1).value(4), "+1");
    QCOMPARE(rows.at(1).value(5), QDir::toNativeSeparators(image));
}

// A row never joins the last line of a file that does not end with one.
void RecordTest::rowStartsOnALineOfItsOwn()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("flash-log.csv");
    FlashRecord(path, "window closed mid-flash").record(report(TransferReport::Refused, "192.168.0.51"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write("a note typed by hand");
    file.close();
    FlashRecord(path, "window closed mid-flash").record(report(TransferReport::Refused, "192.168.0.52"));
    const QList<QStringList> rows = readCsv(path);
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows.at(2), QStringList("a note typed by hand"));
    QCOMPARE(rows.at(3).value(3), "192.168.0.52");
}

void RecordTest::unusableRecordSaysWhy_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
#ifdef Q_OS_WIN
    QTest::newRow("a folder") << "folder" << qt_error_string(ERROR_ACCESS_DENIED);
#else
    QTest::newRow("a folder") << "folder"
                              << "Is a directory";
    QTest::newRow("a pipe, which would hold the writer up") << "fifo"
                                                            << "it is not a regular file";
    QTest::newRow("a device") << "/dev/full"
                              << "it is not a regular file";
    QTest::newRow("a link to another's file") << "link"
                                              << "it is a symbolic link, which is not followed";
#endif
}

void RecordTest::unusableRecordSaysWhy()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir folder;
    QString path = folder.filePath("flash-log.csv");
    const QString victim = folder.filePath("private");
    QVERIFY(writeFile(victim, "private\n"));
    if (kind == "folder")
        QVERIFY(QDir().mkpath(path));
#ifdef Q_OS_UNIX
    if (kind == "fifo")
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
    if (kind == "link")
        QVERIFY(QFile::link(victim, path));
    if (kind.startsWith('/'))
        path = kind;
    FlashRecord log(path, "window closed mid-flash");
    QSignalSpy failed(&log, &FlashRecord::writeFailed);
    log.record(report(TransferReport::Refused));
    QVERIFY(failed.wait());
    QCOMPARE(failed.first(), QVariantList({reason, 1}));
    QString lastReason;
    QCOMPARE(log.finish(
                     QDeadlineTimer(2000), [] { return false; }, &lastReason),
             1);
    QCOMPARE(lastReason, reason);
    QFile untouched(victim);
    QVERIFY(untouched.open(QIODevice::ReadOnly));
    QCOMPARE(untouched.readAll(), QByteArray("private\n"));
}

// Its rows are never changed: the record goes on in a file of its own columns.
void RecordTest::anEarlierVersionsRecordIsContinuedBesideIt()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("flash-log.csv");
    const QByteArray earlier = "\xEF\xBB\xBFstart,end,result,device,device MAC,image,image bytes,image SHA-256,"
                               "blocks sent,bytes sent,seconds,MiB/s,adapter,server address,version\r\n"
                               "2026-12-01T09:00:00.000+01:00,2026-12-01T09:00:02.000+01:00,complete,192.168.0.50,,"
                               "/srv/file.bin,2500,abc,3,2500,2.000,0.00,Ethernet,192.168.0.92,1.0.0\r\n";
    QVERIFY(writeFile(path, earlier));
    for (int run = 0; run < 2; ++run) {
        FlashRecord log(path, "window closed mid-flash");
        QCOMPARE(log.path(), folder.filePath("flash-log-2.csv"));
        QCOMPARE(log.continuedFrom(), path);
        QSignalSpy written(&log, &FlashRecord::written);
        log.record(report(TransferReport::Refused, QStringLiteral("192.168.0.5%1").arg(run)));
        QVERIFY(written.wait());
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), earlier);
    const QList<QStringList> rows = readCsv(folder.filePath("flash-log-2.csv"));
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0), RecordRow::titles());
    QCOMPARE(rows.at(2).value(3), "192.168.0.51");
    QCOMPARE(FlashRecord::files(path), QStringList({path, folder.filePath("flash-log-2.csv")}));
}

void RecordTest::whatWaitsIsBoundedByMemory_data()
{
    QTest::addColumn<qint64>("memory");
    QTest::addColumn<bool>("allKept");
    QTest::newRow("a flood's worth, in the memory the record keeps: every row") << qint64(64 * 1024 * 1024) << true;
    QTest::newRow("more than memory holds: the first, and the count of the others") << qint64(64 * 1024) << false;
}

// Rows wait while the file cannot take them: bounded by the memory they
// take, said once when late, and written once it can.
void RecordTest::whatWaitsIsBoundedByMemory()
{
    QFETCH(qint64, memory);
    QFETCH(bool, allKept);
    QTemporaryDir folder;
    const QString path = folder.filePath("flash-log.csv");
    QVERIFY(QDir().mkpath(path)); // in the file's place while the rows come
    RecordWriter::Limits limits;
    limits.maxWaitingBytes = memory;
    limits.delayedMsec = 100;
    FlashRecord log(path, "window closed mid-flash", limits);
    QSignalSpy delayed(&log, &FlashRecord::delayed);
    const int count = 3000;
    for (int i = 0; i < count; ++i)
        log.record(report(TransferReport::Refused, QStringLiteral("192.168.%1.%2").arg(i / 250).arg(i % 250)));
    QVERIFY(delayed.wait());
    QVERIFY(!delayed.wait(300)); // once
    QVERIFY(QDir(path).removeRecursively());
    QString reason;
    const int unwritten = log.finish(
            QDeadlineTimer(5000), [] { return false; }, &reason);
    const QList<QStringList> rows = readCsv(path);
    QCOMPARE(rows.size() - 1 + unwritten, count);
    QCOMPARE(unwritten == 0, allKept);
    QCOMPARE(rows.value(1).value(3), "192.168.0.0");
    if (allKept)
        QCOMPARE(rows.last().value(3), "192.168.11.249");
    QCOMPARE(reason,
             allKept ? QString()
                     : QStringLiteral("the disk was too slow, and more rows waited than the record keeps in "
                                      "memory"));
}

void RecordTest::partWrittenIsCutBack()
{
#ifndef Q_OS_LINUX
    QSKIP("limits the file's size with Linux's RLIMIT_FSIZE");
#else
    QTemporaryDir folder;
    const QString path = folder.filePath("flash-log.csv");
    FlashRecord(path, "window closed mid-flash").record(report(TransferReport::Refused, "192.168.0.51"));
    const qint64 whole = QFileInfo(path).size();
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    const rlimit full{rlim_t(whole + 100), before.rlim_max};
    setrlimit(RLIMIT_FSIZE, &full);
    FlashRecord log(path, "window closed mid-flash");
    QSignalSpy failed(&log, &FlashRecord::writeFailed);
    log.record(report(TransferReport::Refused, "192.168.0.52"));
    const bool told = failed.wait();
    setrlimit(RLIMIT_FSIZE, &before);
    QVERIFY(told);
    QCOMPARE(failed.first().first().toString(), qt_error_string(EFBIG));
    QCOMPARE(QFileInfo(path).size(), whole);
#endif
}

int main(int argc, char *argv[])
{
    qputenv("TZ", "CET-1"); // an hour east of UTC, whatever this machine's zone
    QCoreApplication application(argc, argv);
    RecordTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_record.moc"
