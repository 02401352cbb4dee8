// device-emulator: behaves as the monitoring device in its update mode. It
// connects to TcpServer, asks for the image length ("updata"), pulls every
// 1024-byte block ("ok"), and can verify what it got against a file.
#include "device.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>

#include <cstdio>

namespace {

bool parseCount(const QCommandLineParser &parser, const QString &name, qint64 *value, QTextStream &err)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    *value = parser.value(name).toLongLong(&ok);
    if (!ok || *value < 0) {
        err << "error: --" << name << " takes a whole number of 0 or more\n";
        return false;
    }
    return true;
}

bool parseMsec(const QCommandLineParser &parser, const QString &name, int *value, QTextStream &err)
{
    qint64 wide = *value;
    if (!parseCount(parser, name, &wide, err))
        return false;
    if (wide > 24 * 3600 * 1000) {
        err << "error: --" << name << " is in milliseconds and at most a day\n";
        return false;
    }
    *value = int(wide);
    return true;
}

bool writable(const QString &path)
{
    const QFileInfo file(path);
    if (file.exists())
        return file.isFile() && file.isWritable();
    const QFileInfo folder(file.absolutePath());
    return folder.isDir() && folder.isWritable();
}

bool filesUsable(const DeviceOptions &options, QTextStream &err)
{
    if (!options.expectPath.isEmpty() && !QFileInfo(options.expectPath).isReadable()) {
        err << "error: cannot read " << options.expectPath << " (--expect)\n";
        return false;
    }
    const QList<QPair<QString, QString>> outputs = {{options.outputPath, QStringLiteral("--output")},
                                                    {options.timingsPath, QStringLiteral("--timings")}};
    for (const auto &output : outputs) {
        if (!output.first.isEmpty() && !writable(output.first)) {
            err << "error: cannot write " << output.first << " (" << output.second << ")\n";
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("device-emulator"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TCPSERVER_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Behaves as the monitoring device: connects to TcpServer, asks for the image length and "
            "fetches the image block by block.\nExit status: 0 the whole image arrived (and matched), "
            "1 failed (also when the tool has no image loaded), 2 bad usage or unusable files, 3 stopped "
            "early as asked by a fault option."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({
            {QStringLiteral("host"), QStringLiteral("Server address (default 127.0.0.1)."), QStringLiteral("address"),
             QStringLiteral("127.0.0.1")},
            {QStringLiteral("port"), QStringLiteral("Server port (default 10013)."), QStringLiteral("port"),
             QStringLiteral("10013")},
            {QStringLiteral("from"), QStringLiteral("Connect from this local address (a device of its own address)."),
             QStringLiteral("address")},
            {QStringLiteral("expect"), QStringLiteral("Verify the image byte for byte against this file."),
             QStringLiteral("file")},
            {QStringLiteral("output"), QStringLiteral("Save the received image to this file."), QStringLiteral("file")},
            {QStringLiteral("timings"), QStringLiteral("Write each block's turnaround in microseconds to this file."),
             QStringLiteral("file")},
            {QStringLiteral("timeout"), QStringLiteral("Longest wait for any one answer, in ms (default 5000)."),
             QStringLiteral("ms"), QStringLiteral("5000")},
            {QStringLiteral("send"),
             QStringLiteral("Send this request right after connecting, before \"updata\" (repeatable; \\n \\r \\0 "
                            "\\xHH allowed)."),
             QStringLiteral("text")},
            {QStringLiteral("reply-wait"),
             QStringLiteral("How long to watch for an answer to --send, in ms (default 300)."), QStringLiteral("ms"),
             QStringLiteral("300")},
            {QStringLiteral("delay"), QStringLiteral("Wait this long before each request after the first, in ms."),
             QStringLiteral("ms"), QStringLiteral("0")},
            {QStringLiteral("disconnect-on-connect"),
             QStringLiteral("Close the connection before sending \"updata\".")},
            {QStringLiteral("disconnect-after-header"), QStringLiteral("Close the connection once the length came.")},
            {QStringLiteral("disconnect-after"), QStringLiteral("Close the connection after this many blocks."),
             QStringLiteral("blocks")},
            {QStringLiteral("stop-after"),
             QStringLiteral("Stop asking after this many blocks and keep the connection open (see --hold)."),
             QStringLiteral("blocks")},
            {QStringLiteral("hold"),
             QStringLiteral("With --stop-after, keep the connection open this long, in ms "
                            "(default 3000)."),
             QStringLiteral("ms"), QStringLiteral("3000")},
            {QStringLiteral("expect-refusal"),
             QStringLiteral(
                     "Ask before an image is loaded: succeed only if \"updata\" gets no answer within --timeout.")},
            {QStringLiteral("quiet"), QStringLiteral("Print only the summary.")},
    });
    if (!parser.parse(application.arguments())) {
        err << "error: " << parser.errorText() << " (see --help)\n";
        return DeviceUsage;
    }
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        err << "error: unexpected argument " << parser.positionalArguments().first() << "\n";
        return DeviceUsage;
    }

    DeviceOptions options;
    options.host = parser.value(QStringLiteral("host"));
    options.from = parser.value(QStringLiteral("from"));
    if (!options.from.isEmpty() && QHostAddress(options.from).isNull()) {
        err << "error: --from takes an address\n";
        return DeviceUsage;
    }
    bool portOk = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&portOk);
    if (!portOk || port == 0 || port > 65535) {
        err << "error: --port takes a number from 1 to 65535\n";
        return DeviceUsage;
    }
    options.port = quint16(port);
    options.expectPath = parser.value(QStringLiteral("expect"));
    options.outputPath = parser.value(QStringLiteral("output"));
    options.timingsPath = parser.value(QStringLiteral("timings"));
    for (const QString &request : parser.values(QStringLiteral("send")))
        options.extraRequests.append(unescapeRequest(request));
    if (!parseMsec(parser, QStringLiteral("timeout"), &options.timeoutMs, err) ||
        !parseMsec(parser, QStringLiteral("reply-wait"), &options.replyWaitMs, err) ||
        !parseMsec(parser, QStringLiteral("delay"), &options.delayMs, err) ||
        !parseMsec(parser, QStringLiteral("hold"), &options.holdMs, err) ||
        !parseCount(parser, QStringLiteral("disconnect-after"), &options.disconnectAfterBlocks, err) ||
        !parseCount(parser, QStringLiteral("stop-after"), &options.stopAfterBlocks, err))
        return DeviceUsage;
    if (options.timeoutMs == 0) {
        err << "error: --timeout must be at least 1 ms\n";
        return DeviceUsage;
    }
    options.disconnectOnConnect = parser.isSet(QStringLiteral("disconnect-on-connect"));
    options.disconnectAfterHeader = parser.isSet(QStringLiteral("disconnect-after-header"));
    options.expectRefusal = parser.isSet(QStringLiteral("expect-refusal"));
    options.quiet = parser.isSet(QStringLiteral("quiet"));

    // A flash uses up the loaded image: a mistyped file name must not cost it.
    if (!filesUsable(options, err))
        return DeviceUsage;

    Device device(options, out, err);
    const DeviceStatus status = device.run();
    out.flush();
    err.flush();
    return status;
}
