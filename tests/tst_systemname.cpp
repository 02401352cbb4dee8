// Names as the system has them: bytes that are no UTF-8 come back as they were.
#include "files/systemname.h"

#include <QTest>

class SystemNameTest : public QObject
{
    Q_OBJECT

private slots:
    void bytesComeBackAsTheyWere_data();
    void bytesComeBackAsTheyWere();
};

void SystemNameTest::bytesComeBackAsTheyWere_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown"); // in a message
    QTest::newRow("UTF-8") << QByteArray("\xe4\xbb\xa5\xe5\xa4\xaa\xe7\xbd\x91") << QString::fromUtf8("以太网");
    QTest::newRow("a byte that is no UTF-8") << QByteArray("eth\xff") << "eth\\xff";
    QTest::newRow("an overlong slash") << QByteArray("a\xc0\xaf"
                                                     "b")
                                       << "a\\xc0\\xafb";
    QTest::newRow("a surrogate") << QByteArray("\xed\xa0\x80") << "\\xed\\xa0\\x80";
    QTest::newRow("cut short") << QByteArray("x\xe4\xbb") << "x\\xe4\\xbb";
    QTest::newRow("a control character") << QByteArray("a\tb") << "a\\x09b";
}

void SystemNameTest::bytesComeBackAsTheyWere()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const QString name = nameFromSystem(bytes);
    QCOMPARE(printableName(name), shown);
    QCOMPARE(nameToSystem(name), bytes);
}

QTEST_APPLESS_MAIN(SystemNameTest)
#include "tst_systemname.moc"
