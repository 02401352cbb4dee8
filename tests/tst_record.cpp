// Which image went out and to whom: the SHA-256 digest against known values, reading an image whole, the
// device's hardware address from the neighbour table, the firewall's rules, and the flash record (its rows,
// quoting, order, and what happens when it cannot be written).
#include "support/csv.h"
#include "support/session.h"

#include "adapter/firewall.h"
#include "adapter/neighbours.h"
#include "image/flashimage.h"
#include "image/imagefile.h"
#include "image/sha256.h"
#include "server/flashlog.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

TransferReport report(TransferReport::Ending ending, const QString &device = "192.168.0.50")
{
    TransferReport report;
    report.ending = ending;
    report.device = device;
    report.deviceMac = "02:00:5e:10:00:01";
    report.server = "192.168.0.92";
    report.started = QDateTime(QDate(2026, 12, 8), QTime(14, 3, 12, 345)); // local time, as the server gives it
    report.ended = report.started.addMSecs(1500);
    report.elapsedNs = 1500000000;
    report.blocksSent = 3;
    report.bytesSent = 2500;
    return report;
}

// A device whose size says one thing and whose bytes another: a file that
// changes while it is read.
struct ChangingFile : QBuffer
{
    qint64 claimed = 0;
    qint64 size() const override { return claimed; }
};

} // namespace

class RecordTest : public QObject
{
    Q_OBJECT

private slots:
    void digestOfKnownValues_data();
    void digestOfKnownValues();
    void imageReadWholeOrNotAtAll_data();
    void imageReadWholeOrNotAtAll();
    void hardwareAddressFromNeighbourTable_data();
    void hardwareAddressFromNeighbourTable();
    void firewallRulesThatLetTheDeviceIn_data();
    void firewallRulesThatLetTheDeviceIn();
    void rowsSurviveASpreadsheetReader();
    void rowsWaitForTheirDigestInOrder();
    void unwritableRecordSaysWhyAndTriesAgain_data();
    void unwritableRecordSaysWhyAndTriesAgain();
};

// FIPS 180-2's examples: the platform's library and ours must agree.
void RecordTest::digestOfKnownValues_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("digest");
    QTest::newRow("empty") << QByteArray() << "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    QTest::newRow("abc") << QByteArray("abc") << "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    QTest::newRow("a million a") << QByteArray(1000000, 'a')
                                 << "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
}

void RecordTest::digestOfKnownValues()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, digest);
    QCOMPARE(sha256Hex(bytes), digest);
}

void RecordTest::imageReadWholeOrNotAtAll_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("as large as it says") << qint64(5000) << "5000 bytes";
    QTest::newRow("shorter than it says") << qint64(6000) << "it changed while it was read";
    QTest::newRow("longer than it says") << qint64(4000) << "it changed while it was read";
}

void RecordTest::imageReadWholeOrNotAtAll()
{
    QFETCH(qint64, size);
    QFETCH(QString, outcome);
    ChangingFile file;
    file.claimed = size;
    file.setData(pattern(5000, 1));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray image;
    QString failure;
    const bool read = readWholeImage(file, &image, &failure);
    QCOMPARE(read ? QString::number(image.size()) + " bytes" : failure, outcome);
    QVERIFY(read || image.isEmpty());
}

void RecordTest::hardwareAddressFromNeighbourTable_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("mac");
    QTest::newRow("a complete entry") << "192.168.0.50" << "02:00:5e:10:00:01";
    QTest::newRow("as the listener sees an IPv4 device") << "::ffff:192.168.0.50" << "02:00:5e:10:00:01";
    QTest::newRow("not resolved yet: never guessed") << "192.168.0.51" << "";
    QTest::newRow("no entry") << "192.168.0.53" << "";
}

void RecordTest::hardwareAddressFromNeighbourTable()
{
    QFETCH(QString, address);
    QFETCH(QString, mac);
    const QString table = "IP address       HW type     Flags       HW address            Mask     Device\n"
                          "192.168.0.51     0x1         0x0         02:00:5e:10:00:02     *        Ethernet\n"
                          "192.168.0.50     0x1         0x2         02:00:5E:10:00:01     *        Ethernet\n";
    QCOMPARE(hardwareAddressFromArpTable(table, QHostAddress(address)), mac);
}

// What Windows Firewall holds, as its COM interface tells it; the PC is on a
// public network (an unidentified one: a PC cabled straight to a device).
void RecordTest::firewallRulesThatLetTheDeviceIn_data()
{
    QTest::addColumn<QString>("rule"); // enabled,inbound,allows,profiles,protocol,ports,program
    QTest::addColumn<QString>("verdict");
    const QString program = "C:\\Program Files\\TcpServer\\TcpServer.exe";
    QTest::newRow("the installer's rule") << "1,1,1,2147483647,6,10013," + program << "admits";
    QTest::newRow("a rule for the program, any port") << "1,1,1,4,256,*,c:/program files/tcpserver/TCPSERVER.EXE" << "admits";
    QTest::newRow("a rule for the port, any program") << "1,1,1,4,6,9000-11000," << "admits";
    QTest::newRow("allowed on private networks only") << "1,1,1,2,6,10013," + program << "blocks";
    QTest::newRow("a rule for another port") << "1,1,1,4,6,80;443," + program << "blocks";
    QTest::newRow("for UDP") << "1,1,1,4,17,10013," + program << "blocks";
    QTest::newRow("a rule that blocks") << "1,1,0,4,6,10013," + program << "blocks";
    QTest::newRow("a disabled rule") << "0,1,1,4,6,10013," + program << "blocks";
    QTest::newRow("outbound") << "1,0,1,4,6,10013," + program << "blocks";
    QTest::newRow("another program") << "1,1,1,4,6,10013,C:\\TcpServer\\TcpServer.exe" << "blocks";
    QTest::newRow("no firewall on") << "off" << "admits";
    QTest::newRow("every inbound connection blocked") << "block all" << "blocks";
}

void RecordTest::firewallRulesThatLetTheDeviceIn()
{
    QFETCH(QString, rule);
    QFETCH(QString, verdict);
    FirewallState state;
    state.enabled = rule != "off";
    state.blocksAllInbound = rule == "block all";
    state.currentProfiles = 4; // public
    const QStringList f = rule.split(',');
    if (f.size() == 7)
        state.rules << FirewallRule{f[0] == "1", f[1] == "1", f[2] == "1", f[3].toInt(), f[4].toInt(),
                                    QString(f[5]).replace(';', ','), f[6]};
    const FirewallVerdict found = firewallVerdict(state, "C:\\Program Files\\TcpServer\\TcpServer.exe", 10013);
    QCOMPARE(found == FirewallVerdict::Admits ? "admits" : "blocks", verdict);
}

// Paths with commas, quotes, blanks and Chinese characters come back whole.
void RecordTest::rowsSurviveASpreadsheetReader()
{
    QTemporaryDir folder;
#ifdef Q_OS_WIN
    const QString image = folder.filePath(QString::fromUtf8("以太网, 'A' image.bin")); // no quotes in Windows' names
#else
    const QString image = folder.filePath(QString::fromUtf8("以太网, \"A\" image.bin"));
#endif
    QVERIFY(writeFile(image, pattern(2500, 1)));
    const QString path = folder.filePath("record/flash-log.csv");
    {
        FlashLog log(path, "window closed mid-flash");
        QSignalSpy written(&log, &FlashLog::written);
        log.setImage(FlashImage::load(image));
        log.setAdapterName(QString::fromUtf8("以太网"));
        log.record(report(TransferReport::Complete));
        QVERIFY(written.wait());
    }
    const QList<QStringList> rows = readCsv(path);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0), FlashLog::columns());
    QCOMPARE(rows.at(1), QStringList({"2026-12-08T14:03:12.345+01:00", "2026-12-08T14:03:13.845+01:00", "complete",
                                      "192.168.0.50", "02:00:5e:10:00:01", QDir::toNativeSeparators(image), "2500",
                                      sha256Hex(pattern(2500, 1)), "3", "2500", "1.500", "0.00", QString::fromUtf8("以太网"),
                                      "192.168.0.92", TCPSERVER_VERSION}));
}

void RecordTest::rowsWaitForTheirDigestInOrder()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("flash-log.csv");
    QFile::copy(QCoreApplication::applicationFilePath(), folder.filePath("image.bin"));
    FlashLog log(path, "station stopped mid-flash");
    QSignalSpy written(&log, &FlashLog::written);
    log.setImage(FlashImage::load(folder.filePath("image.bin"))); // its digest comes later
    log.record(report(TransferReport::Stopped, "192.168.0.50"));
    log.record(report(TransferReport::Refused, "192.168.0.51")); // no image, no digest to wait for
    QTRY_COMPARE(readCsv(path).size(), 3);
    QStringList order;
    for (const QStringList &row : readCsv(path).mid(1))
        order << row.at(3) + ' ' + row.at(2) + ' ' + QString::number(row.at(7).size());
    QCOMPARE(order, QStringList({"192.168.0.50 station stopped mid-flash 64", "192.168.0.51 refused, no image 0"}));
}

// A folder in its place, a full disk, a place nobody may write: the flash
// goes on, the reason is told, and the next row takes the waiting one along.
void RecordTest::unwritableRecordSaysWhyAndTriesAgain_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
#ifdef Q_OS_WIN
    QTest::newRow("a folder in its place") << "FOLDER" << "Access denied.";
#else
    QTest::newRow("a folder in its place") << "FOLDER" << "Is a directory";
#endif
#ifdef Q_OS_LINUX
    QTest::newRow("a full disk") << "/dev/full" << "No space left on device";
    QTest::newRow("a folder nobody may write to, root included") << "/sys/flash-log.csv" << "Permission denied";
#endif
}

void RecordTest::unwritableRecordSaysWhyAndTriesAgain()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);
    QTemporaryDir folder;
    const bool mended = path == "FOLDER";
    if (mended)
        QVERIFY(QDir().mkpath(path = folder.filePath("flash-log.csv")));
    FlashLog log(path, "window closed mid-flash");
    QSignalSpy failed(&log, &FlashLog::writeFailed), written(&log, &FlashLog::written);
    log.record(report(TransferReport::Refused));
    QVERIFY(failed.wait());
    QCOMPARE(failed.first(), QVariantList({reason, 1}));
    if (!mended)
        return;
    QVERIFY(QDir(path).removeRecursively());
    for (const char *device : {"192.168.0.51", "192.168.0.52"}) { // the waiting row, once, then the next
        log.record(report(TransferReport::Refused, device));
        QVERIFY(written.wait());
    }
    QCOMPARE(readCsv(path).size(), 4);
}

int main(int argc, char *argv[])
{
    qputenv("TZ", "CET-1"); // an hour east of UTC, whatever this machine's zone
    QCoreApplication application(argc, argv);
    RecordTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_record.moc"
