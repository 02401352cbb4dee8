#include "adapter/networkadapters.h"

#include <QHostAddress>
#include <QStringList>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <string>

namespace {

// A program of the system folder, by its full path: run by bare name, the
// program's folder and the current folder would come first.
QString systemProgram(const QString &name)
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return QStringLiteral("C:\\Windows\\System32\\") + name;
    return QString::fromWCharArray(folder, int(length)) + QLatin1Char('\\') + name;
}

QString systemNetsh()
{
    return systemProgram(QStringLiteral("netsh.exe"));
}

// An argument on a line that cmd.exe runs: quoted wherever cmd would read a
// character of it (&, |, <, >, ^, parentheses, blanks), as the C runtime reads
// it back. cmd expands % and reads " inside quotes too: an argument with
// either, or with a control character, cannot be passed through it at all.
bool cmdArgument(const QString &argument, QString *quoted)
{
    for (const QChar c : argument) {
        if (c == QLatin1Char('%') || c == QLatin1Char('"') || c == QLatin1Char('!') || c.unicode() < 0x20)
            return false;
    }
    static const QString special = QStringLiteral(" \t&|<>^()");
    const bool quote = argument.isEmpty() ||
            std::any_of(argument.begin(), argument.end(), [](QChar c) { return special.contains(c); });
    if (!quote) {
        *quoted = argument;
        return true;
    }
    // Backslashes before the closing quote are doubled, so that it stays one.
    int trailing = 0;
    while (trailing < argument.size() && argument.at(argument.size() - 1 - trailing) == QLatin1Char('\\'))
        ++trailing;
    *quoted = QLatin1Char('"') + argument + QString(trailing, QLatin1Char('\\')) + QLatin1Char('"');
    return true;
}

// The argument as Windows' C runtime reads it back from a command line.
QString windowsCommandLineArgument(const QString &argument)
{
    if (!argument.isEmpty() && !argument.contains(QLatin1Char(' ')) && !argument.contains(QLatin1Char('\t')) &&
        !argument.contains(QLatin1Char('"')))
        return argument;
    // Quoted; backslashes are literal except before a quote, where they are doubled.
    QString quoted = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        quoted += QString(c == QLatin1Char('"') ? 2 * backslashes + 1 : backslashes, QLatin1Char('\\')) + c;
        backslashes = 0;
    }
    return quoted + QString(2 * backslashes, QLatin1Char('\\')) + QLatin1Char('"');
}

bool processElevated()
{
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool known = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
            GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    if (token)
        CloseHandle(token);
    return known && elevation.TokenIsElevated;
}

// Changing an address needs an administrator: Windows asks the operator
// (the UAC prompt) for this command alone. A refused prompt runs nothing. The
// time the operator takes to answer does not count: the bound starts when the
// command does.
void runElevated(const QString &programPath, const QString &commandLine, int timeoutMs)
{
    const std::wstring program = programPath.toStdWString();
    const std::wstring parameters = commandLine.toStdWString();
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info) || !info.hProcess)
        return;
    if (WaitForSingleObject(info.hProcess, DWORD(qMax(0, timeoutMs))) != WAIT_OBJECT_0)
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
}

} // namespace

QList<CommandLine> addressCommands(const QString &adapter, const QString &address, const QString &mask)
{
    QList<CommandLine> commands = netshAddressCommands(adapter, address, mask);
    commands.first().program = systemNetsh();
    return commands;
}

void runCommands(const QList<CommandLine> &commands, int timeoutMs)
{
    if (processElevated())
        return runCommandsInTurn(commands, timeoutMs);
    if (commands.size() == 1) {
        QStringList arguments;
        for (const QString &argument : commands.first().arguments)
            arguments << windowsCommandLineArgument(argument);
        return runElevated(commands.first().program, arguments.join(QLatin1Char(' ')), timeoutMs);
    }
    // Several commands, one prompt: one elevated cmd.exe runs them in turn,
    // all on its own command line, which is fixed once the operator answers;
    // no file that another program could rewrite meanwhile.
    QStringList lines;
    for (const CommandLine &command : commands) {
        QString line;
        if (!cmdArgument(command.program, &line))
            return;
        for (const QString &argument : command.arguments) {
            QString quoted;
            if (!cmdArgument(argument, &quoted))
                return; // not run at all; only looking again tells
            line += QLatin1Char(' ') + quoted;
        }
        lines << line;
    }
    // /d: no AutoRun of the user's; /v:off: ! is no variable; /s: the outer quotes go, the rest as it is.
    runElevated(systemProgram(QStringLiteral("cmd.exe")),
                QStringLiteral("/d /v:off /s /c \"%1\"").arg(lines.join(QStringLiteral(" & "))), timeoutMs);
}

QList<CommandLine> restoreCommands(const AdapterNote &note)
{
    QList<CommandLine> commands = netshRestoreCommands(note);
    for (CommandLine &command : commands)
        command.program = systemNetsh();
    return commands;
}

bool restoreSetsNotedAddresses()
{
    return true;
}

QString restoreByHand(const QString &adapter)
{
    return QStringLiteral("Give it back by hand: Settings, Network, %1, IP assignment.").arg(adapter);
}

AdapterNote systemSettingsOf(const QString &adapter)
{
    AdapterNote note;
    note.adapter = adapter;
    ULONG size = 16 * 1024;
    QByteArray buffer(int(size), '\0');
    const ULONG flags =
            GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_INCLUDE_GATEWAYS;
    auto *addresses = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data());
    ULONG result = GetAdaptersAddresses(AF_INET, flags, nullptr, addresses, &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
        buffer.resize(int(size));
        addresses = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data());
        result = GetAdaptersAddresses(AF_INET, flags, nullptr, addresses, &size);
    }
    for (IP_ADAPTER_ADDRESSES *each = addresses; result == NO_ERROR && each; each = each->Next) {
        if (QString::fromWCharArray(each->FriendlyName) != adapter)
            continue;
        note.dhcp = each->Flags & IP_ADAPTER_DHCP_ENABLED;
        for (IP_ADAPTER_UNICAST_ADDRESS *unicast = each->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const auto *address = reinterpret_cast<const sockaddr_in *>(unicast->Address.lpSockaddr);
            note.addresses.append(
                    {QHostAddress(ntohl(address->sin_addr.s_addr)).toString(), int(unicast->OnLinkPrefixLength)});
        }
        for (IP_ADAPTER_GATEWAY_ADDRESS_LH *gateway = each->FirstGatewayAddress; gateway; gateway = gateway->Next) {
            const auto *address = reinterpret_cast<const sockaddr_in *>(gateway->Address.lpSockaddr);
            note.gateways.append(QHostAddress(ntohl(address->sin_addr.s_addr)).toString());
        }
    }
    return note;
}

QString adapterDisplayName(const QString &reportedName)
{
    return reportedName;
}

int reversePathFilter(const QString &adapter)
{
    // Windows has no such filter.
    Q_UNUSED(adapter)
    return -1;
}
