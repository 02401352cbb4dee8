#include "adapter/networkadapters.h"

#include <QDir>
#include <QHostAddress>
#include <QStringList>
#include <QTemporaryFile>
#include <QTextStream>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <windows.h>
#include <shellapi.h>
#include <string>

namespace {

// The system folder's own netsh, by its full path: run by bare name, the
// program's folder and the current folder would come first.
QString systemNetsh()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return QStringLiteral("C:\\Windows\\System32\\netsh.exe");
    return QString::fromWCharArray(folder, int(length)) + QStringLiteral("\\netsh.exe");
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
void runElevated(const CommandLine &command, int timeoutMs)
{
    QStringList arguments;
    for (const QString &argument : command.arguments)
        arguments << windowsCommandLineArgument(argument);
    const std::wstring program = command.program.toStdWString();
    const std::wstring parameters = arguments.join(QLatin1Char(' ')).toStdWString();
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
    if (commands.size() == 1)
        return runElevated(commands.first(), timeoutMs);
    // Several netsh commands, one prompt: netsh runs them from a script.
    QTemporaryFile script;
    if (!script.open())
        return;
    QTextStream lines(&script);
    for (const CommandLine &command : commands) {
        QStringList arguments;
        for (const QString &argument : command.arguments)
            arguments << windowsCommandLineArgument(argument);
        lines << arguments.join(QLatin1Char(' ')) << "\r\n";
    }
    lines.flush();
    script.close();
    runElevated({commands.first().program, {QStringLiteral("-f"), QDir::toNativeSeparators(script.fileName())}},
                timeoutMs);
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
