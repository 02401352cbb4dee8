#ifndef NETWORKADAPTERS_H
#define NETWORKADAPTERS_H

#include "adapter/adapternote.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// The address the device looks for its server at, and its mask. Compared and
// passed as text, never parsed.
inline const QString kServerAddress = QStringLiteral("192.168.0.92");
inline const QString kServerMask = QStringLiteral("255.255.255.0");

// One network interface as the operator knows it: its display name and its
// addresses, in the order the system gives them.
struct NetworkAdapter
{
    QString name;
    QList<QHostAddress> addresses;
    bool loopback = false;
};

// A program and its arguments, passed as a list so that no argument is ever
// split at blanks or read by a shell.
struct CommandLine
{
    QString program;
    QStringList arguments;
};

// The only place that knows how this platform lists its adapters and changes
// an adapter's address. The window goes through it; tests give the window
// their own.
class NetworkAdapters
{
public:
    virtual ~NetworkAdapters();

    virtual QList<NetworkAdapter> list() = 0;

    // Tries to give the adapter the static IPv4 address with the mask. Returns
    // once the attempt has ended or after timeoutMs, whichever comes first. The
    // outcome is not reported: callers judge it by listing the adapters again.
    virtual void setStaticAddress(const QString &adapter, const QString &address, const QString &mask,
                                  int timeoutMs) = 0;

    // How the adapter is set now, as ModifyIP notes it before changing it.
    virtual AdapterNote settingsOf(const QString &adapter) = 0;
    // Gives the adapter its noted settings back, within timeoutMs; as with
    // the change, only looking at the adapters again tells whether it worked.
    virtual void restoreSettings(const AdapterNote &note, int timeoutMs) = 0;

    // The machine's own adapters.
    static NetworkAdapters *system();
};

// The commands that set a static address, for each platform. Both are built on
// every platform so that they can be checked anywhere; each runs only on its own.
QList<CommandLine> netshAddressCommands(const QString &adapter, const QString &address, const QString &mask);
QList<CommandLine> iprouteAddressCommands(const QString &adapter, const QString &address, const QString &mask);
QList<CommandLine> iprouteRestoreCommands(const QString &adapter);
// Windows' netsh commands that give the adapter its noted settings back:
// DHCP again, or its first address (with the gateway) in place of
// 192.168.0.92 and each further one added.
QList<CommandLine> netshRestoreCommands(const AdapterNote &note);

// The commands for the platform this program was built for.
QList<CommandLine> addressCommands(const QString &adapter, const QString &address, const QString &mask);
// The commands that give the adapter its noted settings back, for this platform.
QList<CommandLine> restoreCommands(const AdapterNote &note);
// Whether giving back sets the noted addresses again (Windows' netsh), so
// that one missing afterwards is a failure; on Linux it only takes
// 192.168.0.92 away, the adapter's own addresses never having been touched.
bool restoreSetsNotedAddresses();
// What to do by hand where giving back failed, in a few words, for this platform.
QString restoreByHand(const QString &adapter);
// How the adapter is set now, as this platform tells it.
AdapterNote systemSettingsOf(const QString &adapter);

// Runs the commands one after the other, all of them within timeoutMs in total.
// A command still running at the deadline is killed. Results are not looked at.
// On Windows, a program that is not elevated has each command run elevated.
void runCommands(const QList<CommandLine> &commands, int timeoutMs);
// The same, as this process runs them, on every platform.
void runCommandsInTurn(const QList<CommandLine> &commands, int timeoutMs);

// The address as the operator reads it: an IPv4 peer reaches a listener on
// every address as ::ffff:a.b.c.d, which is a.b.c.d.
QHostAddress plainAddress(const QHostAddress &address);

// The name of the machine's adapter that holds the address (the first, where
// several do); empty when none does.
QString adapterHolding(const QHostAddress &address);

// Number of leading one bits of a dotted-decimal mask ("255.255.255.0" gives 24).
// Returns -1 for text that is not a contiguous IPv4 mask.
int maskPrefixLength(const QString &mask);

// The name the system reports, as the operator would read it.
QString adapterDisplayName(const QString &reportedName);

// How the kernel filters what arrives on the adapter by the route back to its
// sender: 0 not at all, 1 strictly (only what the best route back would take
// there), 2 loosely; -1 where the system has no such filter.
int reversePathFilter(const QString &adapter);

// The platform's halves: networkadapters_unix.cpp, networkadapters_win.cpp.

#endif // NETWORKADAPTERS_H
