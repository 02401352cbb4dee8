#ifndef EMULATOR_H
#define EMULATOR_H

#include <QProcess>
#include <QStringList>

// The device emulator run as a child process while the test's event loop
// (and so the server under test) keeps running.
struct EmulatorRun
{
    int exitCode = -1;
    bool finished = false;
    QString output;
};

class Emulator
{
public:
    // With a prefix (such as nsenter and its options) the emulator runs under it.
    explicit Emulator(const QStringList &arguments, const QStringList &prefix = {});
    ~Emulator();
    // Waits (processing events) until it has ended, at most timeoutMs.
    EmulatorRun wait(int timeoutMs = 30000);

private:
    QProcess m_process;
};

#endif // EMULATOR_H
