#include "adapter/firewall.h"

FirewallVerdict checkFirewall(const QString &program, int port, const QString &adapter)
{
    // The firewalls here (nftables, firewalld, ufw) have no interface to ask:
    // nothing is guessed.
    Q_UNUSED(program)
    Q_UNUSED(port)
    Q_UNUSED(adapter)
    return FirewallVerdict::Unknown;
}
