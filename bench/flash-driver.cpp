// The benchmark's way of pressing Download: the real window, shown (on the
// offscreen platform when there is no display), with its button clicked for
// each flash. It reads its image from below its own directory, as the program
// does, so the benchmark runs it from a throwaway directory.
//
//   flash-driver [--flashes N]
//
// For each flash it clicks Download, prints "READY", and waits until the
// device has closed the connection; then it prints "DONE <message>". At the
// end it prints its CPU seconds and peak resident memory.
#include "server/tcpserver.h"
#include "window/serverinterface.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextStream>

#include <sys/resource.h>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    int flashes = 1;
    const QStringList arguments = QCoreApplication::arguments();
    const int at = arguments.indexOf(QStringLiteral("--flashes"));
    if (at > 0 && at + 1 < arguments.size())
        flashes = qMax(1, arguments.at(at + 1).toInt());

    QTextStream out(stdout);
    ServerInterface window;
    if (!arguments.contains(QStringLiteral("--hidden")))
        window.show();
    for (int flash = 0; flash < flashes; ++flash) {
        QTest::mouseClick(window.m_downloadButton, Qt::LeftButton);
        if (!window.m_tcpServer || !window.m_tcpServer->m_hasFile) {
            out << "ERROR no image held after Download\n";
            return 1;
        }
        out << "READY\n";
        out.flush();
        // The transfer ends when the image is released; the device decides when.
        while (window.m_tcpServer->m_hasFile)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        out << "DONE " << window.m_messageLabel->text() << "\n";
        out.flush();
    }

    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    out << "CPU " << QString::number(cpu, 'f', 3) << " s, peak RSS " << usage.ru_maxrss / 1024 << " MiB\n";
    return 0;
}
