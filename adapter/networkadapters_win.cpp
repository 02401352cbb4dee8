#include "adapter/networkadapters.h"

#include <QStringList>

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
    for (const CommandLine &command : commands)
        runElevated(command, timeoutMs);
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
