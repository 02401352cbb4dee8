// The note of how ModifyIP found the adapter, and giving those settings back.
#include "support/fakeadapters.h"
#include "support/testing.h"

#include "adapter/networkadapters.h"
#include "adapter/restore.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {
// What stands where the note belongs.
enum class NoteFile { Written, Text, Link, Folder, Pipe };
} // namespace

Q_DECLARE_METATYPE(NoteFile)
Q_DECLARE_METATYPE(RestoreOutcome::Kind)
Q_DECLARE_METATYPE(AdapterNote)

class AdapterNoteTest : public QObject
{
    Q_OBJECT

private slots:
    void restoreNeededFromTheNote_data();
    void restoreNeededFromTheNote();
    void givingBackWhatWentMeanwhile();
    void netshGivesBackTheNotedSettings_data();
    void netshGivesBackTheNotedSettings();
};

void AdapterNoteTest::restoreNeededFromTheNote_data()
{
    QTest::addColumn<NoteFile>("file");
    QTest::addColumn<QByteArray>("text"); // for NoteFile::Text
    QTest::addColumn<QString>("holds"); // the adapter Ethernet's address now
    QTest::addColumn<RestoreOutcome::Kind>("kind");
    QTest::addColumn<QString>("said"); // the settings, or the start of the line
    QTest::addColumn<bool>("left"); // the note is still there
    const QByteArray first = "TcpServer: how ModifyIP found the adapter\n";
    const QString unusable = QStringLiteral("The note of the adapter's earlier settings, ");
    QTest::newRow("as written") << NoteFile::Written << QByteArray() << kServerAddress << RestoreOutcome::Due
                                << "10.1.2.3/24, 10.9.0.7/16 with the gateway 10.1.2.1" << true;
    QTest::newRow("cut short, as by a power cut")
            << NoteFile::Text << first + "adapter=Ethernet\ndhcp=no\naddress=10.1.2" << kServerAddress
            << RestoreOutcome::Unusable << unusable << true;
    QTest::newRow("not a note of ours") << NoteFile::Text << QByteArray("[Network]\nAddress=10.1.2.3/24\n")
                                        << kServerAddress << RestoreOutcome::Unusable << unusable << true;
    QTest::newRow("for an adapter not here") << NoteFile::Text << first + "adapter=Ethernet7\nend\n"
                                             << kServerAddress << RestoreOutcome::Unusable << "The note" << true;
    QTest::newRow("changed since by someone else")
            << NoteFile::Written << QByteArray() << "10.7.7.7" << RestoreOutcome::LeftAlone
            << "The adapter Ethernet no longer holds" << false;
    QTest::newRow("a link to a note, which is not followed")
            << NoteFile::Link << QByteArray() << kServerAddress << RestoreOutcome::Unusable << unusable << true;
    QTest::newRow("a folder") << NoteFile::Folder << QByteArray() << kServerAddress << RestoreOutcome::Unusable
                              << unusable << true;
#ifdef Q_OS_UNIX
    QTest::newRow("a pipe, never waited for")
            << NoteFile::Pipe << QByteArray() << kServerAddress << RestoreOutcome::Unusable << unusable << true;
#endif
}

void AdapterNoteTest::restoreNeededFromTheNote()
{
    QFETCH(NoteFile, file);
    QFETCH(QByteArray, text);
    QFETCH(QString, holds);
    QFETCH(RestoreOutcome::Kind, kind);
    QFETCH(QString, said);
    QFETCH(bool, left);
    QTemporaryDir folder;
    const QString path = folder.filePath("notes/adapter.txt");
    AdapterNote written;
    written.adapter = QStringLiteral("Ethernet");
    written.addresses = {{"10.1.2.3", 24}, {"10.9.0.7", 16}};
    written.gateways = QStringList{"10.1.2.1"};
    QString failure;
    switch (file) {
    case NoteFile::Written: QVERIFY(written.write(path, &failure)); break;
    case NoteFile::Text: QVERIFY(writeFile(path, text)); break;
    case NoteFile::Link:
        QVERIFY(written.write(folder.filePath("notes/elsewhere.txt"), &failure));
        QVERIFY(QFile::link(folder.filePath("notes/elsewhere.txt"), path));
        break;
    case NoteFile::Folder: QVERIFY(QDir().mkpath(path)); break;
    case NoteFile::Pipe:
#ifdef Q_OS_UNIX
        QVERIFY(QDir().mkpath(folder.filePath("notes")));
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
        break;
    }
    FakeAdapters adapters;
    adapters.adapters = {{QStringLiteral("Ethernet"), {QHostAddress(holds)}, false}};
    AdapterNote read;
    const RestoreOutcome outcome = restoreNeeded(&adapters, path, &read);
    QCOMPARE(outcome.kind, kind);
    QVERIFY2((kind == RestoreOutcome::Due ? read.describe() : outcome.text).startsWith(said), qPrintable(outcome.text));
    if (kind == RestoreOutcome::Due)
        QVERIFY(read == written);
    QCOMPARE(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), left);
}

// The noted address went meanwhile (a DHCP lease that ended while the cable
// led to the device): where giving back sets it again (netsh), that fails;
// where it only takes 192.168.0.92 away, that worked, and is said so.
void AdapterNoteTest::givingBackWhatWentMeanwhile()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("adapter.txt");
    AdapterNote note;
    note.adapter = QStringLiteral("Ethernet");
    note.addresses = {{"10.1.2.3", 24}};
    QString failure;
    QVERIFY(note.write(path, &failure));
    FakeAdapters adapters;
    adapters.adapters = {adapter("Ethernet", {"10.1.2.3", kServerAddress})};
    adapters.onRestore = [&] { adapters.adapters.first().addresses.clear(); };
    const RestoreOutcome outcome = restoreAdapter(&adapters, path, note, 1000);
    const bool fails = restoreSetsNotedAddresses();
    QCOMPARE(outcome.kind, fails ? RestoreOutcome::Failed : RestoreOutcome::Restored);
    QVERIFY2(outcome.text.startsWith(fails ? QStringLiteral("The adapter Ethernet could not be given back")
                                           : QStringLiteral("The adapter Ethernet no longer holds 192.168.0.92. Of "
                                                            "its earlier settings (10.1.2.3/24), 10.1.2.3/24 went "
                                                            "meanwhile")),
             qPrintable(outcome.text));
    QCOMPARE(QFile::exists(path), fails);
}

void AdapterNoteTest::netshGivesBackTheNotedSettings_data()
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

void AdapterNoteTest::netshGivesBackTheNotedSettings()
{
    QFETCH(AdapterNote, note);
    QFETCH(QStringList, lines);
    QStringList commands;
    for (const CommandLine &command : netshRestoreCommands(note))
        commands << command.arguments.join('|');
    QCOMPARE(commands, lines);
}

QTEST_GUILESS_MAIN(AdapterNoteTest)
#include "tst_adapternote.moc"
