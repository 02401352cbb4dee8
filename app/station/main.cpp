// tcpserver-station: flashes one device after another without a window.
#include "adapter/networkadapters.h"
#include "app/commandline.h"
#include "app/singleinstance.h"
#include "app/station/console.h"
#include "app/station/station.h"
#include "image/imagefile.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tcpserver-station"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TCPSERVER_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    // The server's debug lines are for developers; the operator reads the station's own.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Flashes monitoring devices one after another, without a window: loads the image once and serves it on TCP "
        "port 10013 to every device that connects.\nExit status: 0 every flash that began completed; 1 one did "
        "not, or the station could not serve; 2 bad usage."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("image"),
                      QStringLiteral("The image to serve (default: abset/boor/true/file.bin below the program's "
                                     "folder, as TcpServer reads it)."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("count"), QStringLiteral("Stop after this many complete flashes (default: never)."),
                      QStringLiteral("n")});
    addRecordOptions(&parser);
    if (!parser.parse(application.arguments()) || !parser.positionalArguments().isEmpty()) {
        err << "error: "
            << (parser.errorText().isEmpty() ? "unexpected argument " + parser.positionalArguments().first()
                                             : parser.errorText())
            << " (see --help)" << Qt::endl;
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    Station::Options options;
    options.imagePath = parser.isSet(QStringLiteral("image")) ? parser.value(QStringLiteral("image")) : imageFilePath();
    options.logPath = recordPath(parser);
    if (parser.isSet(QStringLiteral("count"))) {
        bool ok = false;
        options.count = parser.value(QStringLiteral("count")).toInt(&ok);
        if (!ok || options.count < 1) {
            err << "error: --count takes a whole number of 1 or more" << Qt::endl;
            return 2;
        }
    }

    SingleInstance instance;
    if (!instance.claim()) {
        err << "error: " << (instance.holder() == QLatin1String("tcpserver-station") ? "tcpserver-station"
                                                                                     : "the TcpServer window")
            << " already serves the device in this session; stop it before starting tcpserver-station." << Qt::endl;
        return 1;
    }
    Station station(options, NetworkAdapters::system(), out, err);
    if (!station.start())
        return 1;
    onStopRequest(&station, [&station] { station.stop(); });
    return application.exec();
}
