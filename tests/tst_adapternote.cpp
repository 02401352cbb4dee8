// The note of how ModifyIP found the adapter, and giving those settings back.
#include "support/fakeadapters.h"
#include "support/testing.h"

#include "adapter/networkadapters.h"
#include "adapter/restore.h"

#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(RestoreOutcome::Kind)
Q_DECLARE_METATYPE(AdapterNote)

class AdapterNoteTest : public QObject
{
    Q_OBJECT

private slots:
    void restoreNeededFromTheNote_data();
    void restoreNeededFromTheNote();
    void netshGivesBackTheNotedSettings_data();
    void netshGivesBackTheNotedSettings();
};

void AdapterNoteTest::restoreNeededFromTheNote_data()
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

void AdapterNoteTest::restoreNeededFromTheNote()
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
