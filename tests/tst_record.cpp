// Which image went out and to whom, and what the PC's surroundings hold.
#include "support/csv.h"
#include "support/testing.h"

#include "adapter/restore.h"
#include "adapter/firewall.h"
#include "adapter/neighbours.h"
#include "app/singleinstance.h"
#include "image/flashimage.h"
#include "image/imagefile.h"
#include "record/flashrecord.h"

#include <QBuffer>
#include <QProcess>
#include <QCoreApplication>
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

// A file that changes while it is read.
struct ChangingFile : QBuffer
{
    qint64 claimed = 0;
    qint64 size() const override { return claimed; }
};

FirewallRule rule(bool allows, int profiles, int protocol, const QString &ports, const QString &program)
{
    return {true, true, allows, profiles, protocol, ports, program}; // enabled, inbound
}

const QString kProgram = QStringLiteral("C:\\Program Files\\TcpServer\\TcpServer.exe");

} // namespace

Q_DECLARE_METATYPE(FirewallRule)
Q_DECLARE_METATYPE(RestoreOutcome::Kind)
Q_DECLARE_METATYPE(AdapterNote)
Q_DECLARE_METATYPE(SingleInstance::Claim)
Q_DECLARE_METATYPE(FirewallVerdict)

class RecordTest : public QObject
{
    Q_OBJECT

private slots:
    void imageThatGrowsWhileReadIsRefused();
    void hardwareAddressFromNeighbourTable_data();
    void hardwareAddressFromNeighbourTable();
    void firewallJudgesTheDevicesNetwork_data();
    void firewallJudgesTheDevicesNetwork();
    void rowsSurviveASpreadsheetReader();
    void rowStartsOnALineOfItsOwn();
    void unusableRecordSaysWhy_data();
    void unusableRecordSaysWhy();
    void rowsThatWaitAreWrittenAtTheEnd();
    void partWrittenIsCutBack();
    void restoreNeededFromTheNote_data();
    void restoreNeededFromTheNote();
    void netshGivesBackTheNotedSettings_data();
    void netshGivesBackTheNotedSettings();
    void lockThatNamesNoLiveProgramIsTakenOver_data();
    void lockThatNamesNoLiveProgramIsTakenOver();
};

void RecordTest::imageThatGrowsWhileReadIsRefused()
{
    ChangingFile file;
    file.claimed = 4000;
    file.setData(pattern(5000, 1));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray image;
    QString failure;
    QVERIFY(!readWholeImage(file, &image, &failure));
    QCOMPARE(failure, "it changed while it was read");
    QVERIFY(image.isEmpty());
}

void RecordTest::hardwareAddressFromNeighbourTable_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<QString>("mac");
    QTest::newRow("the same address behind another adapter") << "192.168.0.50"
                                                             << "enx001122334455"
                                                             << "02:00:5e:10:00:09";
    QTest::newRow("an adapter with a Chinese name")
            << "192.168.0.50" << QString::fromUtf8("以太网") << "02:00:5e:10:00:07";
    QTest::newRow("not resolved yet: never guessed") << "192.168.0.51"
                                                     << "Ethernet"
                                                     << "";
}

void RecordTest::hardwareAddressFromNeighbourTable()
{
    QFETCH(QString, address);
    QFETCH(QString, adapter);
    QFETCH(QString, mac);
    // As the kernel writes it: names are bytes, read as Latin-1.
    const QString table = QString::fromLatin1(
            QByteArray("IP address       HW type     Flags       HW address            Mask     Device\n"
                       "192.168.0.51     0x1         0x0         02:00:5e:10:00:02     *        Ethernet\n"
                       "192.168.0.50     0x1         0x2         02:00:5E:10:00:01     *        Ethernet\n"
                       "192.168.0.50     0x1         0x2         02:00:5e:10:00:09     *        enx001122334455\n"
                       "192.168.0.50     0x1         0x2         02:00:5e:10:00:07     *        ") +
            QString::fromUtf8("以太网").toUtf8() + "\n");
    QCOMPARE(hardwareAddressFromArpTable(table, QHostAddress(address), adapter), mac);
}

// Judged for the profile of the device's network (a cable's is public).
void RecordTest::firewallJudgesTheDevicesNetwork_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<QList<FirewallRule>>("rules");
    QTest::addColumn<FirewallVerdict>("verdict");
    const int any = DomainProfile | PrivateProfile | PublicProfile;
    const int tcp = 6;
    using Rules = QList<FirewallRule>;
    QTest::newRow("the program's folder as a variable")
            << int(PublicProfile)
            << Rules{rule(true, any, tcp, "10013", "%TCPSERVER_PROGRAMS%\\TcpServer\\TcpServer.exe")}
            << FirewallVerdict::Admits;
    QTest::newRow("for domain and private, the cable's network public")
            << int(PublicProfile) << Rules{rule(true, DomainProfile | PrivateProfile, tcp, "10013", kProgram)}
            << FirewallVerdict::Blocks;
    QTest::newRow("a rule that blocks wins over one that allows")
            << int(PublicProfile)
            << Rules{rule(true, any, tcp, "10013", kProgram), rule(false, PublicProfile, tcp, "*", "")}
            << FirewallVerdict::Blocks;
}

void RecordTest::firewallJudgesTheDevicesNetwork()
{
    QFETCH(int, profile);
    QFETCH(QList<FirewallRule>, rules);
    QFETCH(FirewallVerdict, verdict);
    qputenv("TCPSERVER_PROGRAMS", "C:\\Program Files");
    FirewallState state;
    state.profile = profile;
    state.enabled = true;
    state.rules = rules;
    QCOMPARE(firewallVerdict(state, kProgram, 10013), verdict);
}

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
        log.record(complete);
        QVERIFY(written.wait());
    }
    const QList<QStringList> rows = readCsv(path);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0), FlashRecord::columns());
    QCOMPARE(rows.at(1),
             QStringList({"2026-12-08T14:03:12.345+01:00", "2026-12-08T14:03:13.845+01:00", "complete", "192.168.0.50",
                          "'+1", QDir::toNativeSeparators(image), "2500",
                          "927aa652b8b45524938d13f067b816a23f5be88a03686493c78e701a80e3badc", "3", "2500", "1.500",
                          "0.00", "'=HYPERLINK(\"http://x\")", "'@SUM(1)", TCPSERVER_VERSION}));
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

void RecordTest::rowsThatWaitAreWrittenAtTheEnd()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("flash-log.csv");
    QVERIFY(QDir().mkpath(path));
    FlashRecord log(path, "window closed mid-flash");
    QSignalSpy failed(&log, &FlashRecord::writeFailed);
    log.record(report(TransferReport::Refused, "192.168.0.51"));
    QVERIFY(failed.wait());
    QVERIFY(QDir(path).removeRecursively());
    QString reason;
    QCOMPARE(log.finish(
                     QDeadlineTimer(2000), [] { return false; }, &reason),
             0);
    QCOMPARE(readCsv(path).value(1).value(3), "192.168.0.51");
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

void RecordTest::restoreNeededFromTheNote_data()
{
    QTest::addColumn<QByteArray>("text"); // NOTE: as written; none: no file
    QTest::addColumn<QString>("holds"); // the adapter Ethernet's address now
    QTest::addColumn<RestoreOutcome::Kind>("kind");
    QTest::addColumn<QString>("said"); // the settings, or the start of the line
    const QByteArray first = "TcpServer: how ModifyIP found the adapter\n";
    QTest::newRow("as written") << QByteArray("NOTE") << kServerAddress << RestoreOutcome::Due
                                << "10.1.2.3/24, 10.9.0.7/16 with the gateway 10.1.2.1";
    QTest::newRow("cut short, as by a power cut")
            << first + "adapter=Ethernet\ndhcp=no\naddress=10.1.2" << kServerAddress << RestoreOutcome::Unusable
            << "The note of the adapter";
    QTest::newRow("not a note of ours") << QByteArray("[Network]\nAddress=10.1.2.3/24\n") << kServerAddress
                                        << RestoreOutcome::Unusable << "The note of the adapter";
    QTest::newRow("for an adapter not here") << first + "adapter=Ethernet7\nend\n"
                                             << kServerAddress << RestoreOutcome::Unusable << "The note";
    QTest::newRow("changed since by someone else")
            << QByteArray("NOTE") << "10.7.7.7" << RestoreOutcome::LeftAlone << "The adapter Ethernet no longer holds";
}

void RecordTest::restoreNeededFromTheNote()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, holds);
    QFETCH(RestoreOutcome::Kind, kind);
    QFETCH(QString, said);
    QTemporaryDir folder;
    const QString path = folder.filePath("notes/adapter.txt");
    AdapterNote written;
    written.adapter = QStringLiteral("Ethernet");
    written.addresses = {{"10.1.2.3", 24}, {"10.9.0.7", 16}};
    written.gateways = QStringList{"10.1.2.1"};
    QString failure;
    if (text == "NOTE")
        QVERIFY(written.write(path, &failure));
    else if (text != "none")
        QVERIFY(writeFile(path, text));
    FakeAdapters adapters;
    adapters.adapters = {{QStringLiteral("Ethernet"), {QHostAddress(holds)}, false}};
    AdapterNote read;
    const RestoreOutcome outcome = restoreNeeded(&adapters, path, &read);
    QCOMPARE(outcome.kind, kind);
    QVERIFY2((kind == RestoreOutcome::Due ? read.describe() : outcome.text).startsWith(said), qPrintable(outcome.text));
    if (text == "NOTE" && kind == RestoreOutcome::Due)
        QVERIFY(read == written);
}

void RecordTest::netshGivesBackTheNotedSettings_data()
{
    QTest::addColumn<AdapterNote>("note");
    QTest::addColumn<QStringList>("lines"); // one command a line, its arguments between |
    AdapterNote dhcp;
    dhcp.adapter = QStringLiteral("Local Area Connection2");
    dhcp.dhcp = true;
    dhcp.addresses = {{"10.1.2.3", 24}};
    QTest::newRow("DHCP") << dhcp
                          << QStringList{"interface|ipv4|set|address|name|=|Local Area Connection2|source|=|dhcp"};
    AdapterNote one;
    one.adapter = QStringLiteral("Ethernet");
    one.addresses = {{"10.1.2.3", 24}};
    one.gateways = QStringList{"10.1.2.1"};
    QTest::newRow("one address and its gateway")
            << one
            << QStringList{"interface|ipv4|set|address|name|=|Ethernet|source|=|static|address|=|10.1.2.3|mask|=|"
                           "255.255.255.0|gateway|=|10.1.2.1"};
    AdapterNote several = one;
    several.addresses.append({"172.16.5.9", 12});
    several.gateways.clear();
    QTest::newRow("several addresses, no gateway")
            << several
            << QStringList{"interface|ipv4|set|address|name|=|Ethernet|source|=|static|address|=|10.1.2.3|mask|=|"
                           "255.255.255.0",
                           "interface|ipv4|add|address|name|=|Ethernet|address|=|172.16.5.9|mask|=|255.240.0.0"};
}

void RecordTest::netshGivesBackTheNotedSettings()
{
    QFETCH(AdapterNote, note);
    QFETCH(QStringList, lines);
    QStringList commands;
    for (const CommandLine &command : netshRestoreCommands(note))
        commands << command.arguments.join('|');
    QCOMPARE(commands, lines);
}

void RecordTest::lockThatNamesNoLiveProgramIsTakenOver_data()
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

void RecordTest::lockThatNamesNoLiveProgramIsTakenOver()
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

int main(int argc, char *argv[])
{
    qputenv("TZ", "CET-1"); // an hour east of UTC, whatever this machine's zone
    QCoreApplication application(argc, argv);
    RecordTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_record.moc"
