#include "debuglog.h"

#include <QtGlobal>

namespace {
QStringList g_lines;
QtMessageHandler g_previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        g_lines.append(message);
    else if (g_previous)
        g_previous(type, context, message);
}
} // namespace

DebugLog::DebugLog()
{
    g_lines.clear();
    g_previous = qInstallMessageHandler(collect);
}

DebugLog::~DebugLog()
{
    qInstallMessageHandler(g_previous);
}

QStringList DebugLog::lines() const
{
    return g_lines;
}

void DebugLog::clear()
{
    g_lines.clear();
}
