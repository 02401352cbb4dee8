#ifndef STATIONOUTPUT_H
#define STATIONOUTPUT_H

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <thread>

// What the station prints on one stream, written on a thread of its own, so
// that a terminal that is paused (Ctrl+S, a Windows console selecting text) or
// a pipe whose reader stopped never holds up the station. Lines go out whole
// and in order. While the stream cannot take them, live lines (a terminal's
// progress bars, redrawn in place) are merged into the newest, and progress
// lines are left out (said once, with the note given). A stream whose reader
// has gone is written no more.
class StationOutput
{
public:
    // live: the stream is a terminal that redraws lines in place.
    StationOutput(FILE *stream, bool live, const QString &leftOutNote);
    // Waits for what is still to go out, two seconds at most.
    ~StationOutput();
    StationOutput(const StationOutput &) = delete;
    StationOutput &operator=(const StationOutput &) = delete;

    bool isLive() const { return m_live; }
    // A line that is kept.
    void line(const QString &text);
    // A line that may be left out while the stream is held up.
    void progressLine(const QString &text);
    // The live lines below the others, in place of those shown before.
    void setLive(const QStringList &lines);
    // Waits until everything has gone out, or the deadline; false when it
    // could not go out (held up, or the reader gone).
    bool finish(QDeadlineTimer deadline);

private:
    struct Shared;
    static void writeOut(const std::shared_ptr<Shared> &shared);
    void queue(const QString &text, bool mayBeLeftOut);

    const bool m_live;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    bool m_finished = false;
};

#endif // STATIONOUTPUT_H
