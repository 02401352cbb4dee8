// The benchmark's way of pressing Download: the real window, shown (on the
// offscreen platform when there is no display, else on the display), with its
// button clicked for each flash; or, with --core, the transfer server alone,
// on the main thread, handed the image as the window would hand it. It reads
// its image from below its own directory, as the program does, so the
// benchmark runs it from a throwaway directory.
//
//   flash-driver [--core] [--flashes N]
//
// For each flash it hands the image over, prints "READY", and waits until
// the transfer has ended; then it prints "DONE <how>". At the end it prints
// its CPU seconds and peak resident memory.
#include "image/flashimage.h"
#include "image/imagefile.h"
#include "server/flashline.h"
#include "server/tcpserver.h"
#include "window/serverinterface.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextStream>

#include <memory>
#include <sys/resource.h>

int main(int argc, char *argv[])
{
    const bool core = QByteArrayList({argv + 1, argv + argc}).contains("--core");
    std::unique_ptr<QCoreApplication> application(core ? new QCoreApplication(argc, argv)
                                                       : new QApplication(argc, argv));
    int flashes = 1;
    const QStringList arguments = QCoreApplication::arguments();
    const int at = arguments.indexOf(QStringLiteral("--flashes"));
    if (at > 0 && at + 1 < arguments.size())
        flashes = qMax(1, arguments.at(at + 1).toInt());

    QTextStream out(stdout);
    std::unique_ptr<TcpServer> alone;
    std::unique_ptr<ServerInterface> window;
    QString ended;
    auto report = [&](const TransferReport &report) { ended = endingText(report.ending, "stopped"); };
    if (core) {
        alone.reset(new TcpServer(TcpServer::Options()));
        if (!alone->startListen())
            return 1;
        QObject::connect(alone.get(), &TcpServer::transferEnded, report);
    } else {
        window.reset(new ServerInterface);
        window->show();
        QObject::connect(window->findChild<FlashLine *>(), &FlashLine::transferEnded, report);
    }
    for (int flash = 0; flash < flashes; ++flash) {
        ended.clear();
        if (core) {
            const QSharedPointer<FlashImage> image = FlashImage::load(imageFilePath());
            if (!image->isLoaded()) {
                out << "ERROR " << image->failure() << "\n";
                return 1;
            }
            alone->slotRecive(image);
        } else {
            QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("downloadButton")), Qt::LeftButton);
        }
        out << "READY\n";
        out.flush();
        // The device decides when the transfer ends.
        while (ended.isEmpty())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        out << "DONE " << ended << "\n";
        out.flush();
    }

    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    const double cpu =
            usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    out << "CPU " << QString::number(cpu, 'f', 3) << " s, peak RSS " << usage.ru_maxrss / 1024 << " MiB\n";
    return 0;
}
