#ifndef DEBUGLOG_H
#define DEBUGLOG_H

#include <QStringList>

// Collects what the program writes to the Qt debug output while it lives.
class DebugLog
{
public:
    DebugLog();
    ~DebugLog();
    QStringList lines() const;
    int count(const QString &line) const { return lines().count(line); }
    void clear();
};

#endif // DEBUGLOG_H
