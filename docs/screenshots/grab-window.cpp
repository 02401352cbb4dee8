// Takes a picture of the real window for the documentation: the window the
// program shows, sized and placed by its own rules for the screen it is on
// (make.sh gives it a display of 1920 x 1080). It reads the machine's adapters and its image like the program,
// and keeps no flash record.
//
//   grab-window OUTPUT.png [--download (--after-blocks N | --after-flash)]
//   grab-window OUTPUT.png --station IMAGE [--adapter NAME]... [--scan PLACE SERIAL]
//
// With --download it presses Download, prints READY, and takes the picture
// once N blocks have gone to a device, or once the flash has ended. With
// --station it shows the station window for the adapters named (their
// fixtures pause after two units fail), scans the serial for that place,
// prints READY, and takes the picture once a line comes on its input.
#include "adapter/networkadapters.h"
#include "session/flashsession.h"
#include "station/station.h"
#include "stationwindow/stationwindow.h"
#include "window/serverinterface.h"

#include <QSocketNotifier>

#include <QApplication>
#include <QDeadlineTimer>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        QTextStream(stderr) << "usage: grab-window OUTPUT.png [--download (--after-blocks N | --after-flash)]\n";
        return 2;
    }
    const QString output = arguments.at(1);
    const int at = arguments.indexOf(QStringLiteral("--after-blocks"));
    const int blocks = at > 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toInt() : 0;

    if (arguments.contains(QStringLiteral("--station"))) {
        Station::Options options;
        options.imagePath = arguments.value(arguments.indexOf(QStringLiteral("--station")) + 1);
        options.pauseAfter = 2;
        options.logPath = QString();
        for (int i = 0; i < arguments.size() - 1; ++i) {
            if (arguments.at(i) == QLatin1String("--adapter"))
                options.adapters << arguments.at(i + 1);
        }
        Station station(options, NetworkAdapters::system());
        StationWindow window(&station);
        window.show();
        if (!station.start())
            return 1;
        QTest::qWait(300);
        const int scan = arguments.indexOf(QStringLiteral("--scan"));
        if (scan > 0)
            station.session()->scan(arguments.value(scan + 1).toInt(), arguments.value(scan + 2));
        QTextStream(stdout) << "READY" << Qt::endl;
        QSocketNotifier told(0, QSocketNotifier::Read);
        QObject::connect(&told, &QSocketNotifier::activated, &application, &QCoreApplication::quit);
        QCoreApplication::exec();
        // The window shows changes once a frame: the last of them first.
        QTest::qWait(300);
        return window.grab().save(output) ? 0 : 1;
    }

    ServerInterface window;
    window.show();
    QTest::qWait(300);
    if (arguments.contains(QStringLiteral("--download"))) {
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("downloadButton")), Qt::LeftButton);
        int sent = 0;
        bool ended = false;
        FlashSession *session = window.findChild<FlashSession *>();
        QObject::connect(session, &FlashSession::blockSent, [&] { ++sent; });
        QObject::connect(session, &FlashSession::transferEnded, [&] { ended = true; });
        QTextStream out(stdout);
        out << "READY\n";
        out.flush();
        const bool whole = arguments.contains(QStringLiteral("--after-flash"));
        const QDeadlineTimer deadline(60000);
        while (!(whole ? ended : sent >= blocks) && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        // Let the window catch up with the last block, and the digest come, before the picture.
        QTest::qWait(300);
    }
    return window.grab().save(output) ? 0 : 1;
}
