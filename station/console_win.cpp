#include "station/console.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <atomic>

#include <windows.h>
#include <io.h>

namespace {
std::function<void()> g_stop;
QPointer<QObject> g_context;
std::atomic<int> g_requests{0};
HANDLE g_finished = nullptr;

// Windows calls this on a thread of its own.
BOOL WINAPI stopHandler(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    g_requests.fetch_add(1);
    QMetaObject::invokeMethod(
            g_context.data(), [] { g_stop(); }, Qt::QueuedConnection);
    // A closed console window ends the program as soon as this returns: the
    // flashes in progress are ended and recorded first (Windows allows some
    // five seconds).
    if (event == CTRL_CLOSE_EVENT && g_finished)
        WaitForSingleObject(g_finished, 4500);
    return TRUE;
}
} // namespace

void ignoreReaderGone()
{
    // Windows has no SIGPIPE: a write to a pipe whose reader has gone fails.
}

void onStopRequest(QObject *context, std::function<void()> stop)
{
    g_stop = std::move(stop);
    g_context = context;
    g_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(stopHandler, TRUE);
}

int stopRequests()
{
    return g_requests.load();
}

void consoleFinished()
{
    if (g_finished)
        SetEvent(g_finished);
}

bool isLiveTerminal(FILE *stream)
{
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    // A console that reads the escape codes (Windows 10 and later).
    return GetConsoleMode(console, &mode) &&
            SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING | ENABLE_PROCESSED_OUTPUT);
}

bool writeAll(FILE *stream, const char *data, qint64 size)
{
    HANDLE output = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    qint64 done = 0;
    while (done < size) {
        DWORD written = 0;
        if (!WriteFile(output, data + done, DWORD(qMin<qint64>(size - done, 1 << 20)), &written, nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}
