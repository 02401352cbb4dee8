#include "server/transferreport.h"

QString endingText(TransferReport::Ending ending, const QString &stoppedResult)
{
    switch (ending) {
    case TransferReport::Complete: return QStringLiteral("complete");
    case TransferReport::DeviceClosed: return QStringLiteral("device closed early");
    case TransferReport::Stalled: return QStringLiteral("stalled");
    case TransferReport::Restarted: return QStringLiteral("restarted by a new Download");
    case TransferReport::Stopped: return stoppedResult;
    case TransferReport::Paused: return QStringLiteral("fixture paused");
    case TransferReport::Refused: break;
    }
    return QStringLiteral("refused, no image");
}

QString endingWord(TransferReport::Ending ending)
{
    switch (ending) {
    case TransferReport::Complete: return QStringLiteral("complete");
    case TransferReport::DeviceClosed: return QStringLiteral("device-closed");
    case TransferReport::Stalled: return QStringLiteral("stalled");
    case TransferReport::Restarted: return QStringLiteral("restarted");
    case TransferReport::Stopped: return QStringLiteral("stopped");
    case TransferReport::Paused: return QStringLiteral("paused");
    case TransferReport::Refused: break;
    }
    return QStringLiteral("refused");
}

QString resultText(const TransferReport &report, const QString &stoppedResult)
{
    const QString text = endingText(report.ending, stoppedResult);
    if (report.connections <= 1)
        return text;
    if (report.ending == TransferReport::Paused)
        return QStringLiteral("%1, %2 connections").arg(text).arg(report.connections);
    return QStringLiteral("%1, %2 blocks, %3 connections").arg(text).arg(report.blocksSent).arg(report.connections);
}
