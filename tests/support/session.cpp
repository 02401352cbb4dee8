#include "session.h"

#include "adapter/networkadapters.h"
#include "image/imagefile.h"
#include "server/tcpserver.h"
#include "support/csv.h"
#include "window/serverinterface.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

// The adapter list the window sees, and what an address change does to it.
struct FakeAdapters : NetworkAdapters
{
    QList<NetworkAdapter> adapters;
    QStringList changes;
    std::function<void()> onChange;
    QList<NetworkAdapter> list() override { return adapters; }
    void setStaticAddress(const QString &adapter, const QString &address, const QString &mask, int) override
    {
        changes << QStringList{adapter, address, mask}.join(' ');
        if (onChange)
            onChange();
    }
};

bool waitFor(const std::function<bool()> &done, int ms)
{
    for (const QDeadlineTimer deadline(ms); !done() && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

QByteArray pattern(int length, int seed)
{
    QByteArray bytes(length, '\0');
    for (quint32 state = 0x9E3779B9u * quint32(seed + 1), i = 0; i < quint32(length); ++i)
        bytes[i] = char((state = state * 1664525u + 1013904223u) >> 24);
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void scriptColumns()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("checks");
}

void row(const char *name, const QString &script, const QString &checks)
{
    QTest::newRow(name) << script << checks.split(" | ", Qt::SkipEmptyParts);
}

bool inOwnNetworkNamespace()
{
    return QSysInfo::kernelType() == "linux" &&
           (!qEnvironmentVariable("TCPSERVER_OUTER_NETNS").isEmpty() || qEnvironmentVariableIsSet("TCPSERVER_AS_USER"));
}

void runRow(Target target)
{
    QFETCH(QString, script);
    QFETCH(QStringList, checks);
    if (script.contains(QRegularExpression("(^|; )ip ")) && !inOwnNetworkNamespace())
        QSKIP("makes network interfaces, only in a namespace of its own");
    Session(target).verify(script, checks);
}

Device::Device(const QString &host, quint16 port)
{
    socket.connectToHost(host, port);
    waitFor([&] { return socket.state() != QAbstractSocket::HostLookupState &&
                         socket.state() != QAbstractSocket::ConnectingState; });
    // Each request leaves at once as a segment of its own, as the device's do.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

QByteArray Device::take(int count)
{
    waitFor([&] { return socket.bytesAvailable() >= count; });
    return socket.read(count);
}

Session::Session(Target target)
    : m_target(target)
    , m_fake(new FakeAdapters)
    , m_adapters(m_fake.get())
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        // The server's own lines are no part of what is checked, nor the offscreen platform's excuses.
        if (type != QtDebugMsg && !message.contains("does not support propagateSizeHints"))
            fprintf(stderr, "%s\n", qPrintable(message));
    });
    QFile::remove(imageFilePath());
    connect(&m_boxTimer, &QTimer::timeout, this, &Session::closeBoxes);
    m_boxTimer.start(5);
}

Session::~Session()
{
    // The mutation check wants a verdict, not every row's failure.
    if (QTest::currentTestFailed() && qEnvironmentVariableIsSet("TCPSERVER_FAIL_FAST"))
        std::_Exit(1);
    m_devices.clear();
    window.reset();
    m_core.reset();
    for (const QStringList &undo : qAsConst(m_undo))
        runProgram("ip", undo);
    qInstallMessageHandler(nullptr);
}

TcpServer *Session::server() const
{
    return m_core ? m_core.get() : window ? window->findChild<TcpServer *>() : nullptr;
}

// What the server reports, for waiting on it and for the core's checks.
void Session::watch(TcpServer *server)
{
    if (!server || server == m_watched)
        return;
    m_watched = server;
    connect(server, &TcpServer::deviceConnected, this, [this](const QString &address) { ++m_connects, m_connected = address; });
    connect(server, &TcpServer::deviceDisconnected, this, [this] { ++m_disconnects; });
    connect(server, &TcpServer::deviceTurnedAway, this, [this](const QString &address) { m_endings << "turned away " + address; });
    connect(server, &TcpServer::requestEchoed, this, [this](const QString &request) { m_echoes << request; });
    connect(server, &TcpServer::progress, this, [this](int percent) { m_progress = percent; });
    connect(server, &TcpServer::hintSig, this, [this] { ++m_refusals; });
    connect(server, &TcpServer::transferEnded, this, [this](const TransferReport &report) {
        static const char *names[] = {"complete", "closed", "stalled", "restarted", "stopped", "refused"};
        m_endings << names[report.ending];
        m_reports << report;
    });
}

void Session::start()
{
    if (m_target == Target::Core) {
        TcpServer::Options options;
        options.port = 0;
        options.watchPeriodMsec = m_watchMs;
        m_core.reset(new TcpServer(options));
        watch(m_core.get());
        QVERIFY(m_core->startListen());
        return;
    }
    ServerInterface::Options options;
    options.server.watchPeriodMsec = m_watchMs;
    options.clientInputLimit = m_cap;
    options.logPath = m_logPath;
    window.reset(new ServerInterface(options, m_adapters));
    window->show();
    watch(server());
}

// Notes each box the program opens (all titled "TcpServer"; a question has No
// as default), then closes it with Ok or the answer chosen. A held box stays
// open while the script runs on inside its event loop, up to "release".
void Session::closeBoxes()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || box == m_lastBox)
        return;
    m_lastBox = box;
    const bool asOperatorExpects = box->windowTitle() == "TcpServer" &&
                                   (!box->button(QMessageBox::No) || box->defaultButton() == box->button(QMessageBox::No));
    m_boxes << box->text();
    const bool hold = m_holdBox;
    m_holdBox = false;
    for (QString words; hold && m_next < m_steps.size() && (words = m_steps.at(m_next++).trimmed()) != "release";)
        step(words);
    box->button(box->button(QMessageBox::Ok) ? QMessageBox::Ok : m_answerYes ? QMessageBox::Yes : QMessageBox::No)
        ->click();
    m_lastBox = nullptr;
    QVERIFY2(asOperatorExpects, qPrintable(m_boxes.last() + ": not titled TcpServer, or a question not defaulting to No"));
}

void Session::verify(const QString &script, const QStringList &checks)
{
    run(script);
    for (const QString &check : checks) {
        if (QTest::currentTestFailed())
            return;
        const QString what = check.section('=', 0, 0);
        QTRY_COMPARE_WITH_TIMEOUT(what + '=' + show(what), check, 5000);
    }
}

void Session::run(const QString &script)
{
    m_steps = script.split(';', Qt::SkipEmptyParts);
    for (m_next = 0; m_next < m_steps.size() && !QTest::currentTestFailed();)
        step(m_steps.at(m_next++).trimmed());
    if (!window && !m_core && !QTest::currentTestFailed())
        step("start");
}

// The steps. Before the server starts: adapter NAME ADDRESS,... ("_" in NAME
// for a blank); system (the machine's own adapters); ip ARGS; port taken|free
// (another program holds port 10013, or lets go); change works|fails|
// works+download (what ModifyIP's change does; the last queues a Download click
// meanwhile); watch MS; cap CHARS (the ClientInput limit); log (keep the flash
// record). Then: start; image N|none|dir|fifo|huge|link (N pattern bytes, or
// unusable); download [refused]; modify; answer yes|no; close window; hold ...
// release (the next box stays open during the steps between); tick (the watch
// ticks now); stall (it ended a transfer); stop (the program stops a flash);
// emulator STATUS WORD ARGS (the device emulator, IMAGE standing for the
// image file). A device D: D connect [HOST]|refused (taken, or closed at once)|
// close|closed (by the server); D REQUEST len|N|-|refused: D sends REQUEST
// (%HH for any byte) and gets the length it was told, block N of that image,
// nothing (the next answer must follow at once), or the refusal of a device
// that asks too early.
void Session::step(const QString &words)
{
    const QStringList w = words.split(' ', Qt::SkipEmptyParts);
    const QString verb = w.value(0), arg = w.value(1), path = imageFilePath();
    watch(server());
    const int connects = m_connects, disconnects = m_disconnects, refusals = m_refusals;
    auto closed = [&] { return waitFor([&] { return m_devices[verb]->socket.state() == QTcpSocket::UnconnectedState; }); };
    if (verb == "adapter") {
        NetworkAdapter adapter{QString(arg).replace('_', ' '), {}};
        for (const QString &address : w.value(2).split(',', Qt::SkipEmptyParts))
            adapter.addresses << QHostAddress(address);
        m_fake->adapters << adapter;
    } else if (verb == "system") {
        m_adapters = NetworkAdapters::system();
    } else if (verb == "ip") {
        QVERIFY2(runProgram("ip", w.mid(1)) == 0, qPrintable(words));
        if (arg == "link" && w.value(2) == "add") // what the session made, it takes away
            m_undo.prepend({"link", "delete", w.value(3)});
        if (arg == "address" && w.value(2) == "add")
            m_undo.prepend(QStringList{"address", "del"} + w.mid(3));
    } else if (verb == "port") {
        m_portHolder.reset(arg == "taken" ? new QTcpServer : nullptr);
        QVERIFY(!m_portHolder || m_portHolder->listen(QHostAddress::Any, protocol::kPort));
    } else if (verb == "watch" || verb == "cap") {
        (verb == "watch" ? m_watchMs : m_cap) = arg.toInt();
    } else if (verb == "log") { // log [dir]: the record, or a folder in its place
        m_logPath = QCoreApplication::applicationDirPath() + "/flash-log.csv";
        QDir(m_logPath).removeRecursively();
        QFile::remove(m_logPath);
        QVERIFY(arg != "dir" || QDir().mkpath(m_logPath));
    } else if (verb == "change") {
        m_fake->onChange = [this, arg] {
            if (arg.startsWith("works"))
                m_fake->adapters.last().addresses = {QHostAddress(kServerAddress)};
            if (arg.endsWith("+download")) {
                QMetaObject::invokeMethod(window->findChild<QPushButton *>("downloadButton"), "click", Qt::QueuedConnection);
                m_loaded = m_file, m_held = true;
            }
        };
    } else if (!window && !m_core) {
        start();
        if (verb != "start")
            step(words);
    } else if (verb == "image") {
        m_file = pattern(arg.toInt(), ++m_seed);
        if (m_target == Target::Core)
            return;
        QDir(path).removeRecursively();
        QFile::remove(path);
        QDir().mkpath(arg == "dir" ? path : QFileInfo(path).path());
#ifdef Q_OS_UNIX
        if (arg == "fifo")
            QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
#endif
        if (arg == "link") // to a file that is no image of ours
            QVERIFY(QFile::link(QCoreApplication::applicationFilePath(), path));
        if (arg == "huge") // sparse, one byte more than a flash can carry
            QVERIFY(QFile(path).open(QIODevice::WriteOnly) && QFile::resize(path, maxImageBytes() + 1));
        else if (arg.toInt() || arg == "0")
            QVERIFY(writeFile(path, m_file));
    } else if (verb == "download") {
        if (m_core)
            m_core->slotRecive(m_file);
        else
            QTest::mouseClick(window->findChild<QPushButton *>("downloadButton"), Qt::LeftButton);
        if (arg != "refused")
            m_loaded = m_file, m_held = true;
    } else if (verb == "modify") {
        QTest::mouseClick(window->findChild<QPushButton *>("modifyIpButton"), Qt::LeftButton);
    } else if (verb == "answer") {
        m_answerYes = arg == "yes";
    } else if (verb == "hold") {
        m_holdBox = true;
    } else if (verb == "close") {
        window->close();
    } else if (verb == "tick") {
        server()->slotJudgeDisconnect();
    } else if (verb == "stop") {
        server()->stopTransfer();
    } else if (verb == "stall") {
        QVERIFY2(waitFor([&] { return m_endings.contains("stalled") &&
                                      (m_core || m_boxes.contains("Network interruption, please restart TcpServer.")); }),
                 "no stall");
        m_held = false;
    } else if (verb == "churn") { // strangers that connect and close again, in waves
        for (int done = 0; done < arg.toInt() && !QTest::currentTestFailed(); done += 50) {
            std::vector<std::unique_ptr<Device>> wave;
            for (int i = 0; i < 50; ++i)
                wave.push_back(std::make_unique<Device>("127.0.0.1", server()->serverPort()));
        }
    } else if (verb == "emulator") { // emulator STATUS WORD ARGS: it ends with STATUS, having said WORD
        QStringList arguments = w.mid(3);
        if (m_core) {
            QVERIFY(writeFile(path, m_file));
            arguments = QStringList{"--port", QString::number(m_core->serverPort())} + arguments;
        }
        QProcess emulator;
        emulator.setProcessChannelMode(QProcess::MergedChannels);
        emulator.start(DEVICE_EMULATOR, arguments.replaceInStrings("IMAGE", path));
        waitFor([&] { return emulator.state() == QProcess::NotRunning; }, 20000); // the server serves meanwhile
        const QString output = QString::fromUtf8(emulator.readAll());
        QVERIFY2(emulator.exitCode() == arg.toInt() && output.contains(w.value(2)), qPrintable(output));
    } else if (arg == "connect" || arg == "refused") {
        const quint16 port = server() ? server()->serverPort() : protocol::kPort;
        Device *device = (m_devices[verb] = std::make_shared<Device>(w.value(2, "127.0.0.1"), port ? port : protocol::kPort)).get();
        QVERIFY2(arg == "refused" ? closed()
                                  : device->socket.state() == QAbstractSocket::ConnectedState &&
                                        waitFor([&] { return m_connects > connects; }),
                 qPrintable(words));
    } else if (arg == "close") {
        m_devices[verb]->socket.disconnectFromHost();
        QVERIFY2(waitFor([&] { return m_disconnects > disconnects; }), qPrintable(words));
        m_held = m_held && !m_asked.contains(verb); // a device that asked takes the image along
    } else if (arg == "closed") {
        QVERIFY2(closed() && !m_devices[verb]->socket.bytesAvailable(), qPrintable(words));
    } else {
        Device &device = *m_devices[verb];
        const QString expect = w.value(2);
        const int echoed = m_echoes.size();
        device.socket.write(QByteArray::fromPercentEncoding(arg.toLatin1()));
        device.socket.flush();
        if (arg == "updata" || arg == "ok")
            m_asked << verb;
        if (expect == "refused") { // the refusal ends the transfer, box or no box
            QVERIFY2(waitFor([&] { return m_refusals > refusals; }), qPrintable(words));
            // A box to hold opens once the server is done; the held steps run in it.
            QVERIFY2(waitFor([&] { return !m_holdBox; }), qPrintable(words + ": no box to hold"));
        } else if (expect == "len") {
            m_told[verb] = m_loaded;
            QByteArray header; // 32 bits, little-endian
            for (int shift = 0; shift < 32; shift += 8)
                header.append(char(quint32(m_loaded.size()) >> shift));
            QCOMPARE(device.take(4), header);
        } else if (expect != "-") {
            QByteArray block = m_told.value(verb, m_loaded).mid(expect.toInt() * 1024, 1024);
            QVERIFY2(!block.isEmpty() && device.take(1024) == block.append(QByteArray(1024 - block.size(), '\0')),
                     qPrintable(words));
        } else if (m_held) { // nothing comes back: wait until the server has read (and echoed) it
            QVERIFY2(waitFor([&] { return m_echoes.size() > echoed; }), qPrintable(words + ": not read"));
        }
    }
}

QString Session::show(const QString &what)
{
    if (what.startsWith("ipv4:")) { // an adapter's IPv4 addresses with their prefix lengths
        QStringList addresses;
        const QNetworkInterface adapter = QNetworkInterface::interfaceFromName(QString::fromLatin1(what.mid(5).toUtf8()));
        for (const QNetworkAddressEntry &entry : adapter.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                addresses << entry.ip().toString() + '/' + QString::number(entry.prefixLength());
        return addresses.join(',');
    }
    if (what.startsWith("log:")) { // a column of the flash record, every row
        const QList<QStringList> rows = readCsv(m_logPath);
        const int column = rows.value(0).indexOf(what.mid(4));
        QStringList values;
        for (int i = 1; i < rows.size(); ++i)
            values << rows.at(i).value(column);
        return values.join('|');
    }
    const QMap<QString, std::function<QString()>> core{
        {"ended", [&] { return m_endings.join(','); }},
        {"echo", [&] { return m_echoes.join(' '); }},
        {"progress", [&] { return QString::number(m_progress); }},
        {"connected", [&] { return m_connected; }},
        {"sent", [&] { return QString("%1 blocks, %2 bytes").arg(m_reports.value(0).blocksSent).arg(m_reports.value(0).bytesSent); }},
        {"boxes", [&] { return m_boxes.join('|'); }},
    };
    if (core.contains(what) || !window)
        return core.contains(what) ? core[what]() : "nothing called " + what;
    ServerInterface &w = *window;
    auto label = [&](const char *name) { return w.findChild<QLabel *>(name); };
    // The colours of the lines, or one colour when all show it.
    auto colours = [&](std::initializer_list<const char *> lines) {
        static const QMap<QString, QString> names{
            {"#008000", "green"}, {"#ff0000", "red"}, {"#0000ff", "blue"}, {"#000000", "black"}};
        QStringList shown;
        for (const char *line : lines) {
            QWidget *widget = w.findChild<QWidget *>(line);
            widget->ensurePolished();
            shown << names.value(widget->palette().color(widget->foregroundRole()).name());
        }
        return shown.count(shown.first()) == shown.size() ? shown.first() : shown.join(',');
    };
    auto coloured = [&](const char *name) { return label(name)->text() + " (" + colours({name}) + ')'; };
    auto pane = [&](const char *name) { return w.findChild<QTextBrowser *>(name)->toPlainText(); };
    QTcpServer probe; // whether anything listens on port 10013, found without connecting
    const QMap<QString, std::function<QString()>> shown{
        {"message", [&] { return coloured("messageLabel"); }},
        {"status", [&] { return w.findChild<QLineEdit *>("fileStatusEdit")->text(); }},
        {"clientip", [&] { return label("clientIpLabel")->text(); }},
        {"serverip", [&] { return coloured("serverIpLabel"); }},
        {"bar", [&] { return QString::number(w.findChild<QProgressBar *>("progressBar")->value()); }},
        {"hint", [&] { return label("hintLabel1")->text() + '|' + label("hintLabel2")->text() + " (" +
                              colours({"hintLabel1", "hintLabel2"}) + ')'; }},
        {"noip", [&] { return colours({"noIpLabel", "noIpHintLabel"}); }},
        {"haveip", [&] { return colours({"haveIpLabel", "haveIpHintLabel1", "haveIpHintLabel2"}); }},
        {"step2", [&] { return colours({"step2TextLabel1", "step2TextLabel2"}); }},
        {"step3", [&] { return colours({"step3TextLabel1", "step3TextLabel2", "step3TextLabel3"}); }},
        {"step4", [&] { return colours({"step4TextLabel1", "step4TextLabel2", "step4TextLabel3"}); }},
        {"image", [&] { return coloured("imageLabel").replace(QDir::toNativeSeparators(imageFilePath()), "IMAGE"); }},
        {"digest", [&] { return label("imageLabel")->toolTip().section('\n', 0, 0); }},
        {"lastflash", [&] { return coloured("lastFlashLabel").replace(QRegularExpression("\\d\\d:\\d\\d:\\d\\d"), "TIME"); }},
        // Connection objects alive: the current one, and any not yet freed.
        {"sockets", [&] { return QString::number(server()->findChildren<QTcpSocket *>().size()); }},
        {"record", [&] { return label("recordLabel")->text(); }},
        {"listening", [&] { return QString(probe.listen(QHostAddress::Any, protocol::kPort) ? "no" : "yes"); }},
        {"window", [&] { return QString(w.isVisible() ? "open" : "closed"); }},
        {"changes", [&] { return m_fake->changes.join('|'); }},
        {"clientinput", [&] { return pane("clientInputBrowser"); }},
    };
    return shown.contains(what) ? shown[what]() : "nothing called " + what;
}
