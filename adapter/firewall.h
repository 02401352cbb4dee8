#ifndef FIREWALL_H
#define FIREWALL_H

#include <QList>
#include <QString>

// What the PC's firewall will do with the device's connection to this
// program on the networks the PC is on now. Where it cannot be told (no
// firewall that can be asked, or one that does not answer), it is Unknown:
// nothing is guessed.
enum class FirewallVerdict { Admits, Blocks, Unknown };

// One rule as Windows Firewall holds it.
struct FirewallRule
{
    bool enabled = false;
    bool inbound = false;
    bool allows = false;
    int profiles = 0;     // NET_FW_PROFILE2_ bits
    int protocol = 256;   // 6 TCP, 256 any
    QString localPorts;   // "*", "10013", "10000-10100", "80,10013"
    QString application;  // a program's full path; empty: any program
};

struct FirewallState
{
    bool enabled = false;        // on for at least one of the current profiles
    bool blocksAllInbound = false;
    int currentProfiles = 0;
    QList<FirewallRule> rules;
};

// Whether the rules let a TCP connection to port reach program.
FirewallVerdict firewallVerdict(const FirewallState &state, const QString &program, int port);

// Asks the system (Windows Firewall's COM interface); Unknown elsewhere.
FirewallVerdict checkFirewall(const QString &program, int port);

#endif // FIREWALL_H
