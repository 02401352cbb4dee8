#include "station/stationoutput.h"

#include "station/console.h"

#include <QByteArray>
#include <QList>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {
// Lines that may wait while the stream is held up; beyond, progress lines are
// left out (and, beyond ten times as many, any line).
const int kWaitingProgressLines = 64;
const int kWaitingLines = 10 * kWaitingProgressLines * 10;
// Live lines are redrawn at most this often.
const int kLiveMsec = 100;
} // namespace

struct StationOutput::Shared
{
    FILE *stream = nullptr;
    bool live = false;
    QByteArray leftOutNote;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable drained;
    QList<QByteArray> lines;
    QStringList liveLines;
    bool liveChanged = false;
    bool leftOut = false; // lines were left out and that is not said yet
    bool noteWritten = false; // said once
    bool writing = false;
    bool ending = false;
    bool done = false;
    bool gone = false; // the reader has gone, or the stream failed
};

StationOutput::StationOutput(FILE *stream, bool live, const QString &leftOutNote)
    : m_live(live)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->stream = stream;
    m_shared->live = live;
    m_shared->leftOutNote = leftOutNote.toUtf8() + '\n';
    m_thread = std::thread(&StationOutput::writeOut, m_shared);
}

StationOutput::~StationOutput()
{
    if (!m_finished)
        finish(QDeadlineTimer(2000));
}

void StationOutput::line(const QString &text)
{
    queue(text, false);
}

void StationOutput::progressLine(const QString &text)
{
    queue(text, true);
}

void StationOutput::queue(const QString &text, bool mayBeLeftOut)
{
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    if (m_shared->gone)
        return;
    const int limit = mayBeLeftOut ? kWaitingProgressLines : kWaitingLines;
    if (m_shared->lines.size() >= limit) {
        m_shared->leftOut = true;
        return;
    }
    m_shared->lines.append(text.toUtf8() + '\n');
    m_shared->wake.notify_one();
}

void StationOutput::setLive(const QStringList &lines)
{
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->liveLines = lines;
    m_shared->liveChanged = true;
    m_shared->wake.notify_one();
}

void StationOutput::writeOut(const std::shared_ptr<Shared> &shared)
{
    int liveShown = 0; // live lines on the screen now, below the others
    auto lastLive = std::chrono::steady_clock::now() - std::chrono::milliseconds(kLiveMsec);
    std::unique_lock<std::mutex> lock(shared->mutex);
    for (;;) {
        // Lines go out at once; live lines at most every kLiveMsec.
        const auto liveDue = lastLive + std::chrono::milliseconds(kLiveMsec);
        while (shared->lines.isEmpty() && !shared->ending) {
            if (!shared->liveChanged)
                shared->wake.wait(lock);
            else if (std::chrono::steady_clock::now() < liveDue)
                shared->wake.wait_until(lock, liveDue);
            else
                break;
        }
        const bool redraw = shared->live && (shared->liveChanged || !shared->lines.isEmpty() || shared->ending);
        QByteArray chunk;
        // Above the live lines: the cursor goes up over them, and they are
        // drawn again below what is new.
        if (redraw && liveShown > 0)
            chunk += "\r\x1b[" + QByteArray::number(liveShown) + 'A';
        for (const QByteArray &text : qAsConst(shared->lines))
            chunk += (shared->live ? QByteArray("\x1b[2K") : QByteArray()) + text;
        shared->lines.clear();
        if (shared->leftOut && !shared->noteWritten) {
            chunk += shared->leftOutNote;
            shared->noteWritten = true;
        }
        QStringList live;
        if (redraw) {
            live = shared->ending ? QStringList() : shared->liveLines;
            for (const QString &text : qAsConst(live))
                chunk += "\x1b[2K" + text.toUtf8() + '\n';
            chunk += "\x1b[J";
            shared->liveChanged = false;
            lastLive = std::chrono::steady_clock::now();
        }
        const bool ending = shared->ending;
        if (!chunk.isEmpty() && !shared->gone) {
            shared->writing = true;
            lock.unlock();
            const bool written = writeAll(shared->stream, chunk.constData(), chunk.size());
            lock.lock();
            shared->writing = false;
            shared->gone = shared->gone || !written;
            if (redraw)
                liveShown = int(live.size());
        }
        if (ending && shared->lines.isEmpty())
            break;
    }
    shared->done = true;
    shared->drained.notify_all();
}

bool StationOutput::finish(QDeadlineTimer deadline)
{
    m_finished = true;
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    m_shared->ending = true;
    m_shared->wake.notify_one();
    while (!m_shared->done && !deadline.hasExpired())
        m_shared->drained.wait_for(lock, std::chrono::milliseconds(qMax<qint64>(1, deadline.remainingTime())));
    const bool drained = m_shared->done && !m_shared->gone;
    if (m_shared->done) {
        lock.unlock();
        m_thread.join();
        return drained;
    }
    // Held up still: the thread ends with the process.
    lock.unlock();
    m_thread.detach();
    return false;
}
