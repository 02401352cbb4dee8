#ifndef ONCEPERSECOND_H
#define ONCEPERSECOND_H

#include "server/transferreport.h"

#include <QObject>
#include <QTimer>

#include <functional>

// Says what a crowd does without flooding the output: the first at once, and
// those that follow within a second counted into one line at its end.
class OncePerSecond : public QObject
{
public:
    // say(count, last): count devices, the last of them last.
    using Say = std::function<void(int count, const DeviceConnection &last)>;
    explicit OncePerSecond(Say say, QObject *parent = nullptr);

    void add(const DeviceConnection &device);
    // Says what is counted at once (the program ends).
    void flush();

private:
    const Say m_say;
    int m_count = 0; // since the last line
    DeviceConnection m_last;
    QTimer m_timer;
};

#endif // ONCEPERSECOND_H
