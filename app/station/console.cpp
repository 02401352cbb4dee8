#include "app/station/console.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#include <io.h>
#else
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
std::function<void()> g_stop;
QPointer<QObject> g_context;

#ifdef Q_OS_WIN
// Windows calls this on a thread of its own.
BOOL WINAPI stopHandler(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    QMetaObject::invokeMethod(g_context.data(), [] { g_stop(); }, Qt::QueuedConnection);
    return TRUE;
}
#else
int g_signalPipe[2] = {-1, -1};

// Only what is safe in a signal handler: one byte down a pipe.
void stopHandler(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}
#endif
} // namespace

void onStopRequest(QObject *context, std::function<void()> stop)
{
    g_stop = std::move(stop);
    g_context = context;
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(stopHandler, TRUE);
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
        g_stop();
    });
    struct sigaction action = {};
    action.sa_handler = stopHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

bool outputIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stdout));
#else
    return ::isatty(STDOUT_FILENO);
#endif
}
