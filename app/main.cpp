// TcpServer: the window with which a technician re-flashes the device.
#include "adapter/restore.h"
#include "adapter/networkadapters.h"
#include "app/commandline.h"
#include "app/singleinstance.h"
#include "files/systemname.h"
#include "window/application.h"
#include "window/messages.h"
#include "window/serverinterface.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

namespace {

void describe(QCommandLineParser *parser)
{
    parser->setApplicationDescription(QStringLiteral(
            "Re-flashes a networked monitoring device: serves the image abset/boor/true/file.bin below the program's "
            "folder on TCP port 10013 to the device, which looks for this PC at 192.168.0.92.\n"
            "Qt's own options (-platform NAME, -style NAME, -reverse, ...) apply as well."));
    parser->addHelpOption();
    parser->addVersionOption();
    parser->addOption({QStringLiteral("restore-address"),
                       QStringLiteral("Give the wired adapter back the settings ModifyIP replaced, without a window "
                                      "(after a crash, from a script), and say what was done.")});
    parser->addOption({QStringLiteral("image"),
                       QStringLiteral("Download reads this image instead of abset/boor/true/file.bin below the "
                                      "program's folder."),
                       QStringLiteral("file")});
    addRecordOptions(parser);
}

// Status 0 when the adapter has its earlier settings or there was nothing to
// give back, 1 when it could not be given back.
int restoreAddress()
{
    NetworkAdapters *adapters = NetworkAdapters::system();
    const QString path = AdapterNote::defaultPath();
    AdapterNote note;
    RestoreOutcome outcome = restoreNeeded(adapters, path, &note);
    if (outcome.kind == RestoreOutcome::Due)
        outcome = restoreAdapter(adapters, path, note, 30000);
    const bool failed = outcome.kind == RestoreOutcome::Failed || outcome.kind == RestoreOutcome::Unusable;
    std::fprintf(failed ? stderr : stdout, "%s\n", qPrintable(outcome.text));
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("TcpServer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TCPSERVER_VERSION));
    // Usage and version are answered on the terminal, without a window (or a display).
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--help" || argument == "-h" || argument == "--version" || argument == "-v") {
            QCoreApplication terminal(argc, argv);
            QCommandLineParser parser;
            describe(&parser);
            parser.process(terminal);
            return 0;
        }
    }

    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--restore-address") {
            QCoreApplication terminal(argc, argv);
            return restoreAddress();
        }
    }

    prepareApplication();
    QApplication application(argc, argv);
    applicationStarted();
    QCommandLineParser parser;
    describe(&parser);
    // Names and paths as the system gave them, bytes that are not UTF-8 and all.
    if (!parser.parse(QStringList(QCoreApplication::arguments().value(0)) + systemArguments(argc, argv)) ||
        !parser.positionalArguments().isEmpty()) {
        const QString error = parser.errorText().isEmpty()
                ? QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first())
                : parser.errorText();
        std::fprintf(stderr, "TcpServer: %s (see --help)\n", qPrintable(error));
        return 2;
    }

    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Taken:
        if (!instance.note().isEmpty())
            std::fprintf(stderr, "TcpServer: %s\n", qPrintable(instance.note()));
        break;
    case SingleInstance::HeldByStation:
        showInformation(nullptr,
                        QStringLiteral("tcpserver-station is already serving the device in this session. "
                                       "Stop it (Ctrl+C where it runs) before starting TcpServer."));
        return 1;
    case SingleInstance::HeldByWindow:
        showInformation(nullptr,
                        QStringLiteral("TcpServer is already running. Use the TcpServer window that is "
                                       "already open, or close it before starting TcpServer again."));
        return 1;
    case SingleInstance::HeldElsewhere:
    case SingleInstance::InTheWay:
        showInformation(nullptr, QStringLiteral("TcpServer cannot start: ") + instance.note() + QLatin1Char('.'));
        return 1;
    }
    ServerInterface::Options options;
    QString recordProblem;
    options.logPath = recordPath(parser, &recordProblem);
    options.databaseUrl = databaseUrl(parser);
    options.station = stationName(parser);
    if (!recordProblem.isEmpty()) {
        // A window that flashes without evidence says so before the first flash.
        std::fprintf(stderr, "TcpServer: %s; give --log FILE or --no-log\n", qPrintable(recordProblem));
        return 1;
    }
    options.imagePath = parser.value(QStringLiteral("image"));
    ServerInterface window(options, NetworkAdapters::system());
    window.show();
    return application.exec();
}
