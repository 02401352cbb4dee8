#include "adapter/networkadapters.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QProcess>
#include <QStringList>

#ifdef Q_OS_WIN
#include <windows.h>
#include <shellapi.h>
#include <string>
#endif

NetworkAdapters::~NetworkAdapters() = default;

QList<CommandLine> netshAddressCommands(const QString &adapter, const QString &address, const QString &mask)
{
    return {{QStringLiteral("netsh"),
             {QStringLiteral("interface"), QStringLiteral("ipv4"), QStringLiteral("set"), QStringLiteral("address"),
              QStringLiteral("name"), QStringLiteral("="), adapter, QStringLiteral("source"), QStringLiteral("="),
              QStringLiteral("static"), QStringLiteral("address"), QStringLiteral("="), address,
              QStringLiteral("mask"), QStringLiteral("="), mask}}};
}

QList<CommandLine> iprouteAddressCommands(const QString &adapter, const QString &address, const QString &mask)
{
    const QString prefix = address + QLatin1Char('/') + QString::number(maskPrefixLength(mask));
    // First drop every IPv4 address of the adapter, then add the one it must
    // carry, so that no other address can shadow it.
    return {
        {QStringLiteral("ip"),
         {QStringLiteral("-4"), QStringLiteral("address"), QStringLiteral("flush"), QStringLiteral("dev"), adapter}},
        {QStringLiteral("ip"),
         {QStringLiteral("address"), QStringLiteral("add"), prefix, QStringLiteral("broadcast"), QStringLiteral("+"),
          QStringLiteral("dev"), adapter}},
    };
}

#ifdef Q_OS_WIN
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

} // namespace
#endif

QList<CommandLine> addressCommands(const QString &adapter, const QString &address, const QString &mask)
{
#ifdef Q_OS_WIN
    QList<CommandLine> commands = netshAddressCommands(adapter, address, mask);
    commands.first().program = systemNetsh();
    return commands;
#else
    // Process arguments are encoded with the locale's codec; pass the name's
    // own bytes whatever that codec is.
    const QString name = QString::fromLocal8Bit(adapter.toUtf8());
    // Installed, the program has a helper beside it that holds the right to
    // change addresses and sets exactly this one; elsewhere (root, the source
    // tree) ip does it.
    const QString helper = QCoreApplication::applicationDirPath() + QStringLiteral("/tcpserver-set-address");
    if (address == kServerAddress && mask == kServerMask && QFileInfo::exists(helper))
        return {{helper, {name}}};
    return iprouteAddressCommands(name, address, mask);
#endif
}

#ifdef Q_OS_WIN
namespace {

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
    const std::wstring program = command.program.toStdWString(), parameters = arguments.join(' ').toStdWString();
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
#endif

void runCommands(const QList<CommandLine> &commands, int timeoutMs)
{
#ifdef Q_OS_WIN
    if (!processElevated()) {
        for (const CommandLine &command : commands)
            runElevated(command, timeoutMs);
        return;
    }
#endif
    // The bound runs from the start of the first command.
    QDeadlineTimer deadline(QDeadlineTimer::Forever);
    for (const CommandLine &command : commands) {
        if (!deadline.isForever() && deadline.hasExpired())
            return;
        QProcess process;
        process.start(command.program, command.arguments, QIODevice::ReadWrite);
        if (!process.waitForStarted(deadline.isForever() ? timeoutMs : int(deadline.remainingTime())))
            continue;
        if (deadline.isForever())
            deadline.setRemainingTime(timeoutMs);
        process.closeWriteChannel();
        if (!process.waitForFinished(int(deadline.remainingTime()))) {
            process.kill();
            process.waitForFinished(1000);
        }
    }
}

int maskPrefixLength(const QString &mask)
{
    const QStringList parts = mask.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return -1;
    quint32 bits = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok);
        if (!ok || value > 255)
            return -1;
        bits = (bits << 8) | value;
    }
    int length = 0;
    while (length < 32 && (bits & (0x80000000u >> length)))
        ++length;
    // The ones must be contiguous.
    const quint32 expected = length == 0 ? 0u : ~quint32(0) << (32 - length);
    return bits == expected ? length : -1;
}

QString recoverUtf8Name(const QString &latin1Name)
{
    for (const QChar c : latin1Name) {
        if (c.unicode() > 0xFF)
            return latin1Name;
    }
    const QByteArray bytes = latin1Name.toLatin1();
    const QString decoded = QString::fromUtf8(bytes);
    return decoded.toUtf8() == bytes ? decoded : latin1Name;
}

QString adapterDisplayName(const QString &reportedName)
{
#ifdef Q_OS_WIN
    return reportedName;
#else
    return recoverUtf8Name(reportedName);
#endif
}

namespace {

class SystemNetworkAdapters : public NetworkAdapters
{
public:
    QList<NetworkAdapter> list() override
    {
        QList<NetworkAdapter> adapters;
        const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
        for (const QNetworkInterface &networkInterface : interfaces) {
            NetworkAdapter adapter;
            adapter.name = adapterDisplayName(networkInterface.humanReadableName());
            const QList<QNetworkAddressEntry> entries = networkInterface.addressEntries();
            for (const QNetworkAddressEntry &entry : entries)
                adapter.addresses.append(entry.ip());
            adapters.append(adapter);
        }
        return adapters;
    }

    void setStaticAddress(const QString &adapter, const QString &address, const QString &mask,
                          int timeoutMs) override
    {
        runCommands(addressCommands(adapter, address, mask), timeoutMs);
    }
};

} // namespace

NetworkAdapters *NetworkAdapters::system()
{
    static SystemNetworkAdapters adapters;
    return &adapters;
}
