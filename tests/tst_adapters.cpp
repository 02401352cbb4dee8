// The adapter seam: names as the system reports them, and the machine's own
// adapter list read inside a private network namespace.
#include "support/netns.h"

#include "adapter/networkadapters.h"

#include <QTest>

class AdaptersTest : public QObject
{
    Q_OBJECT

private slots:
    void recoversUtf8Names_data();
    void recoversUtf8Names();
    void systemListShowsRealInterfaces();
};

void AdaptersTest::recoversUtf8Names_data()
{
    QTest::addColumn<QString>("reported");
    QTest::addColumn<QString>("name");

    auto latin1 = [](const char *utf8) { return QString::fromLatin1(QByteArray(utf8)); };
    QTest::newRow("ascii") << "Ethernet2" << "Ethernet2";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("Chinese, decoded as Latin-1") << latin1("以太网") << QString::fromUtf8("以太网");
    QTest::newRow("Chinese with digit") << latin1("本地连接5") << QString::fromUtf8("本地连接5");
    // Bytes that are no UTF-8 stay as the system gave them.
    QTest::newRow("Latin-1 that is no UTF-8") << QString::fromLatin1("caf\xe9") << QString::fromLatin1("caf\xe9");
    QTest::newRow("truncated UTF-8") << QString::fromLatin1("\xe4\xbb") << QString::fromLatin1("\xe4\xbb");
    // A name already decoded properly is left alone.
    QTest::newRow("already Unicode") << QString::fromUtf8("以太网") << QString::fromUtf8("以太网");
}

void AdaptersTest::recoversUtf8Names()
{
    QFETCH(QString, reported);
    QFETCH(QString, name);
    QCOMPARE(recoverUtf8Name(reported), name);
#ifndef Q_OS_WIN
    QCOMPARE(adapterDisplayName(reported), name);
#endif
}

void AdaptersTest::systemListShowsRealInterfaces()
{
    if (!netns::whyNot().isEmpty())
        QSKIP(qPrintable(netns::whyNot()));
    const QString chinese = QString::fromUtf8("以太网");
    QCOMPARE(netns::ip({"link", "add", chinese, "type", "veth", "peer", "name", "peer0"}), 0);
    QCOMPARE(netns::ip({"address", "add", "10.9.8.7/24", "dev", chinese}), 0);
    QCOMPARE(netns::ip({"address", "add", "10.9.9.9/24", "dev", chinese}), 0);

    const QList<NetworkAdapter> adapters = NetworkAdapters::system()->list();
    QStringList names;
    QList<QHostAddress> addresses;
    for (const NetworkAdapter &adapter : adapters) {
        names << adapter.name;
        if (adapter.name == chinese)
            addresses = adapter.addresses;
    }
    QVERIFY2(names.contains(chinese), qPrintable(names.join(", ")));
    QVERIFY(names.contains("peer0"));
    QVERIFY(names.contains("lo"));
    QVERIFY(addresses.contains(QHostAddress("10.9.8.7")));
    QVERIFY(addresses.contains(QHostAddress("10.9.9.9")));
    QCOMPARE(netns::ip({"link", "delete", chinese}), 0);
}

QTEST_GUILESS_MAIN(AdaptersTest)
#include "tst_adapters.moc"
