#include "station/console.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
std::function<void()> g_stop;
int g_signalPipe[2] = {-1, -1};
std::atomic<int> g_requests{0};

// Only what is safe in a signal handler: a count, and one byte down a pipe.
void stopHandler(int)
{
    g_requests.fetch_add(1);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}
} // namespace

void ignoreReaderGone()
{
    std::signal(SIGPIPE, SIG_IGN);
}

void onStopRequest(QObject *context, std::function<void()> stop)
{
    g_stop = std::move(stop);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
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
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

int stopRequests()
{
    return g_requests.load();
}

void consoleFinished() { }

bool isLiveTerminal(FILE *stream)
{
    return ::isatty(fileno(stream)) == 1;
}

bool writeAll(FILE *stream, const char *data, qint64 size)
{
    const int fd = fileno(stream);
    qint64 done = 0;
    while (done < size) {
        const ssize_t written = ::write(fd, data + done, size_t(size - done));
        if (written > 0) {
            done += written;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // An output made non-blocking by whoever shares it, and full: this
            // thread waits for room rather than spin (nothing else waits for it).
            pollfd room{fd, POLLOUT, 0};
            if (::poll(&room, 1, -1) < 0 && errno != EINTR)
                return false;
        } else if (written < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}
