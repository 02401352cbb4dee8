#ifndef FIREWALL_H
#define FIREWALL_H

#include <QList>
#include <QString>

// What the PC's firewall will do with the device's connection to this
// program on the network the device's adapter is on. Where it cannot be told
// (no firewall that can be asked, or one that does not answer), it is Unknown:
// nothing is guessed.
enum class FirewallVerdict { Admits, Blocks, Unknown };

// Windows Firewall's profiles (NET_FW_PROFILE2_ bits).
enum FirewallProfile {
    DomainProfile = 1,
    PrivateProfile = 2,
    PublicProfile = 4,
};

// One rule as Windows Firewall holds it.
struct FirewallRule
{
    bool enabled = false;
    bool inbound = false;
    bool allows = false;
    int profiles = 0; // FirewallProfile bits
    int protocol = 256; // 6 TCP, 256 any
    QString localPorts; // "*", "10013", "10000-10100", "80,10013"
    QString application; // a program's full path, perhaps with %VARIABLES%; empty: any program
};

// The firewall as it stands for one profile: that of the network the device's
// adapter is on.
struct FirewallState
{
    int profile = PublicProfile;
    bool enabled = false; // on for that profile
    bool blocksAllInbound = false; // there, every inbound connection is blocked
    QList<FirewallRule> rules;
};

// Whether the rules let a TCP connection to port reach program: as Windows
// judges it, a matching rule that blocks wins over one that allows, and none
// that allows blocks.
FirewallVerdict firewallVerdict(const FirewallState &state, const QString &program, int port);

// A rule's path with its %VARIABLES% replaced by the environment's values.
QString expandEnvironment(const QString &text);

// Asks the system (Windows Firewall's COM interface) about the profile of the
// network the adapter is on (firewall_win.cpp); Unknown elsewhere
// (firewall_unix.cpp).
FirewallVerdict checkFirewall(const QString &program, int port, const QString &adapter);

#endif // FIREWALL_H
