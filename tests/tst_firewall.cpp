// Whether Windows Firewall lets the device in, from its rules.
#include "adapter/firewall.h"

#include <QTest>

namespace {

FirewallRule rule(bool allows, int profiles, int protocol, const QString &ports, const QString &program)
{
    return {true, true, allows, profiles, protocol, ports, program}; // enabled, inbound
}

const QString kProgram = QStringLiteral("C:\\Program Files\\TcpServer\\TcpServer.exe");

} // namespace

Q_DECLARE_METATYPE(FirewallRule)
Q_DECLARE_METATYPE(FirewallVerdict)

class FirewallTest : public QObject
{
    Q_OBJECT

private slots:
    void firewallJudgesTheDevicesNetwork_data();
    void firewallJudgesTheDevicesNetwork();
};

// Judged for the profile of the device's network (a cable's is public).
void FirewallTest::firewallJudgesTheDevicesNetwork_data()
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

void FirewallTest::firewallJudgesTheDevicesNetwork()
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

QTEST_GUILESS_MAIN(FirewallTest)
#include "tst_firewall.moc"
