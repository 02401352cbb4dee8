#include "emulator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

Emulator::Emulator(const QStringList &arguments, const QStringList &prefix)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    if (prefix.isEmpty())
        m_process.start(QStringLiteral(DEVICE_EMULATOR), arguments);
    else
        m_process.start(prefix.first(), prefix.mid(1) + QStringList(QStringLiteral(DEVICE_EMULATOR)) + arguments);
}

Emulator::~Emulator()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

EmulatorRun Emulator::wait(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EmulatorRun run;
    run.finished = m_process.state() == QProcess::NotRunning;
    if (!run.finished) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    run.exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    run.output = QString::fromUtf8(m_process.readAll());
    return run;
}
