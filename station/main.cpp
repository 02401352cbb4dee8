// tcpserver-station: flashes devices without a window, several at once where
// asked.
#include "adapter/networkadapters.h"
#include "app/commandline.h"
#include "app/singleinstance.h"
#include "files/systemname.h"
#include "station/console.h"
#include "station/descriptors.h"
#include "station/station.h"
#include "station/stationterminal.h"
#include "station/stationoutput.h"
#include "image/imagefile.h"

#include "stationwindow/stationwindow.h"
#include "window/application.h"

#include <QApplication>
#include <QMessageBox>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <memory>

#include <cstdio>

namespace {

StationOutput *g_errors = nullptr;
// What the station itself keeps open besides the devices' connections.
const qint64 kOwnDescriptors = 32;

// The server's debug lines are for developers; the operator reads the
// station's own. Warnings go where errors go, without holding anyone up.
void stationMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        return;
    if (g_errors)
        g_errors->line(message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

int usage(const QString &problem)
{
    std::fprintf(stderr, "error: %s (see --help)\n", qPrintable(problem));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    // A reader that goes away is no reason to stop; from the start, so that
    // even the first line cannot end the program.
    ignoreReaderGone();
    // The window needs a display; the terminal station never does.
    bool window = false;
    for (int i = 1; i < argc; ++i)
        window = window || QByteArray(argv[i]) == "--window";
    std::unique_ptr<QCoreApplication> application;
    if (window) {
        prepareApplication();
        application = std::make_unique<QApplication>(argc, argv);
        applicationStarted();
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("tcpserver-station"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TCPSERVER_VERSION));
    qInstallMessageHandler(stationMessage);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Flashes monitoring devices without a window, several at once where asked: loads the image once and "
            "serves it on TCP port 10013 to every device that connects.\nExit status: 0 every flash that began "
            "completed and is recorded; 1 one did not, its record could not be written, or the station could not "
            "serve; 2 bad usage."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("image"),
                      QStringLiteral("The image to serve (default: abset/boor/true/file.bin below the program's "
                                     "folder, as TcpServer reads it)."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("count"),
                      QStringLiteral("Stop after this many complete flashes in all (default: never)."),
                      QStringLiteral("n")});
    parser.addOption({QStringLiteral("devices"),
                      QStringLiteral("Flash up to this many devices at once, on each adapter (default: 1)."),
                      QStringLiteral("n")});
    parser.addOption({QStringLiteral("adapter"),
                      QStringLiteral("Listen on this adapter alone, which holds 192.168.0.92; repeat for one "
                                     "fixture per adapter, whose devices may all have the same address (Linux)."),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("json"),
                      QStringLiteral("Standard output carries JSON objects only, one a line, for a line "
                                     "controller; errors stay on standard error.")});
    parser.addOption({QStringLiteral("pause-after"),
                      QStringLiteral("Pause a fixture (an adapter; on a switch, the station) on which this many "
                                     "different units fail in a row: until the station is started again, or in the "
                                     "window until Resume (default: 0, never; in the window 3)."),
                      QStringLiteral("n")});
    parser.addOption({QStringLiteral("window"),
                      QStringLiteral("Show the station in a window, a tile per fixture place, where a barcode "
                                     "scanner gives each unit its serial (needs a display).")});
    addRecordOptions(&parser);
    // Names and paths as the system gave them, bytes that are not UTF-8 and all.
    if (!parser.parse(QStringList(QCoreApplication::arguments().value(0)) + systemArguments(argc, argv)))
        return usage(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    Station::Options options;
    options.imagePath = parser.isSet(QStringLiteral("image")) ? parser.value(QStringLiteral("image")) : imageFilePath();
    const bool json = parser.isSet(QStringLiteral("json"));
    for (const char *name : {"count", "devices"}) {
        if (!parser.isSet(QLatin1String(name)))
            continue;
        bool read = false;
        const int value = parser.value(QLatin1String(name)).toInt(&read);
        if (!read || value < 1)
            return usage(QStringLiteral("--%1 takes a whole number of 1 or more").arg(QLatin1String(name)));
        (qstrcmp(name, "count") == 0 ? options.count : options.devices) = value;
    }
    options.pauseAfter = window ? 3 : 0;
    if (parser.isSet(QStringLiteral("pause-after"))) {
        bool read = false;
        options.pauseAfter = parser.value(QStringLiteral("pause-after")).toInt(&read);
        if (!read || options.pauseAfter < 0)
            return usage(QStringLiteral("--pause-after takes a whole number of 0 or more"));
    }
    options.adapters = parser.values(QStringLiteral("adapter"));
    if (!options.adapters.isEmpty() && QSysInfo::kernelType() != QLatin1String("linux"))
        return usage(QStringLiteral("--adapter needs Linux; here, use --devices with devices of distinct addresses"));
    if (options.adapters.removeDuplicates() > 0)
        return usage(QStringLiteral("an adapter is named twice"));
    // A connection is an open file; Qt, the record and the output take a few more.
    const qint64 needed = qint64(options.devices) * qMax(1, int(options.adapters.size())) + kOwnDescriptors;
    qint64 limit = 0;
    if (!makeRoomForDescriptors(needed, &limit))
        return usage(QStringLiteral("%1 devices at once need about %2 open files, but this session allows at most %3 "
                                    "(ulimit -Hn): raise that limit, or ask for fewer devices")
                             .arg(qint64(options.devices) * qMax(1, int(options.adapters.size())))
                             .arg(needed)
                             .arg(limit));
    QString recordProblem;
    options.logPath = recordPath(parser, &recordProblem);
    options.databaseUrl = databaseUrl(parser);
    options.station = stationName(parser);
    if (!recordProblem.isEmpty()) {
        std::fprintf(stderr, "error: %s; give --log FILE or --no-log\n", qPrintable(recordProblem));
        return 1;
    }

    // From here on nothing the station prints can hold it up.
    StationOutput out(stdout, !json && isLiveTerminal(stdout),
                      json ? QStringLiteral("{\"event\":\"note\",\"text\":\"progress lines were left out "
                                            "while the output was held up\"}")
                           : QStringLiteral("(progress lines were left out while the output was held up)"));
    StationOutput errors(stderr, false, QString());
    g_errors = &errors;

    int status = 1;
    SingleInstance instance;
    const SingleInstance::Claim claim = instance.claim();
    if (claim != SingleInstance::Taken) {
        const QString why = claim == SingleInstance::HeldByWindow || claim == SingleInstance::HeldByStation
                ? QStringLiteral("%1 already serves the device in this session; stop it before starting "
                                 "tcpserver-station.")
                          .arg(claim == SingleInstance::HeldByStation ? QStringLiteral("tcpserver-station")
                                                                      : QStringLiteral("the TcpServer window"))
                : instance.note();
        errors.line(QStringLiteral("error: ") + why);
        if (window)
            QMessageBox::information(nullptr, QStringLiteral("TcpServer Station"), why);
    } else {
        if (!instance.note().isEmpty())
            errors.line(QStringLiteral("warning: ") + instance.note());
        options.stopRequests = stopRequests;
        Station station(options, NetworkAdapters::system());
        QObject::connect(&station, &Station::finished, application.get(),
                         [](int code) { QCoreApplication::exit(code); });
        onStopRequest(&station, [&station] { station.stop(); });
        if (window) {
            // What cannot serve is said in the window; it stays until closed.
            // The station's end ends the program, with its status; a window
            // that closes before it served ends it too.
            QGuiApplication::setQuitOnLastWindowClosed(false);
            StationWindow shown(&station);
            shown.show();
            if (!station.start())
                QObject::connect(qApp, &QGuiApplication::lastWindowClosed, [] { QCoreApplication::exit(1); });
            status = application->exec();
        } else {
            StationTerminal terminal(&station, &out, &errors, json);
            if (station.start())
                status = application->exec();
        }
    }
    consoleFinished();
    out.finish(QDeadlineTimer(2000));
    g_errors = nullptr;
    errors.finish(QDeadlineTimer(2000));
    return status;
}
