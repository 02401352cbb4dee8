// Takes a picture of the real window for the documentation: the window the
// program shows, sized and placed by its own rules for the screen it is on
// (make.sh gives it a display of 1920 x 1080). It reads the machine's adapters and its image like the program,
// and keeps no flash record.
//
//   grab-window OUTPUT.png [--download (--after-blocks N | --after-flash)]
//
// With --download it presses Download, prints READY, and takes the picture
// once N blocks have gone to a device, or once the flash has ended.
#include "server/tcpserver.h"
#include "window/serverinterface.h"

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

    ServerInterface window;
    window.show();
    QTest::qWait(300);
    if (arguments.contains(QStringLiteral("--download"))) {
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("downloadButton")), Qt::LeftButton);
        int sent = 0;
        bool ended = false;
        TcpServer *server = window.findChild<TcpServer *>();
        QObject::connect(server, &TcpServer::blockSent, [&] { ++sent; });
        QObject::connect(server, &TcpServer::transferEnded, [&] { ended = true; });
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
