#include "session.h"

#include "adapter/networkadapters.h"
#include "image/imagefile.h"
#include "server/tcpserver.h"
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

namespace {

QStringList debugLines; // the program's debug output since the session began

// Bytes that differ from block to block.
QByteArray pattern(int length, int seed)
{
    QByteArray bytes(length, '\0');
    for (quint32 state = 0x9E3779B9u * quint32(seed + 1), i = 0; i < quint32(length); ++i)
        bytes[i] = char((state = state * 1664525u + 1013904223u) >> 24);
    return bytes;
}

} // namespace

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

void runRow()
{
    QFETCH(QString, script);
    QFETCH(QStringList, checks);
    if (script.startsWith("ip ") && !inOwnNetworkNamespace())
        QSKIP("makes network interfaces, only in a namespace of its own");
    Session().verify(script, checks);
}

Device::Device(const QString &host)
{
    socket.connectToHost(host, TcpServer::kPort);
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

Session::Session()
    : m_fake(new FakeAdapters)
    , m_adapters(m_fake.get())
{
    debugLines.clear();
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtDebugMsg)
            debugLines << message;
        else
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
    TcpServer::watchPeriodMsec = 500;
    ServerInterface::clientInputLimit = 8 * 1024 * 1024;
    m_devices.clear();
    window.reset();
    for (const QString &link : qAsConst(m_links))
        runProgram("ip", {"link", "delete", link});
    qInstallMessageHandler(nullptr);
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
    for (QString words; m_holdBox && m_next < m_steps.size() && (words = m_steps.at(m_next++).trimmed()) != "release";)
        step(words);
    m_holdBox = false;
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
    if (!window && !QTest::currentTestFailed())
        step("start");
}

// The steps. Before the window starts: adapter NAME ADDRESS,... ("_" in NAME
// for a blank); system (the machine's own adapters); ip ARGS; port taken|free
// (another program holds port 10013, or lets go); change works|fails|
// works+download (what ModifyIP's change does; the last queues a Download click
// meanwhile); watch MS; cap CHARS (the ClientInput limit). Then: start; image
// N|none|dir|fifo|huge (N pattern bytes, or unusable); download [refused];
// modify; answer yes|no; close window; hold ... release (the next box stays
// open during the steps between); tick (the watch ticks now); stall (its box);
// emulator STATUS WORD ARGS (the device emulator, IMAGE standing for the file).
// A device D: D connect [HOST]|refused (taken, or closed at once)|close|closed
// (by the server)|alive (its connection object still exists); D REQUEST
// len|N|-|refused: D sends REQUEST (%HH for any byte) and gets the length it
// was told, block N of that image, nothing (the next answer must follow at
// once), or the refusal of a device that asks too early.
void Session::step(const QString &words)
{
    const QStringList w = words.split(' ', Qt::SkipEmptyParts);
    const QString verb = w.value(0), arg = w.value(1), path = imageFilePath();
    const int connects = debugLines.count("Client connect!"), ends = debugLines.count("Disconnected!");
    auto seen = [&](const char *line, int before) { return waitFor([&] { return debugLines.count(line) > before; }); };
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
        if (arg == "link" && w.value(2) == "add")
            m_links << w.value(3);
    } else if (verb == "port") {
        m_portHolder.reset(arg == "taken" ? new QTcpServer : nullptr);
        QVERIFY(!m_portHolder || m_portHolder->listen(QHostAddress::Any, TcpServer::kPort));
    } else if (verb == "watch" || verb == "cap") {
        (verb == "watch" ? TcpServer::watchPeriodMsec : ServerInterface::clientInputLimit) = arg.toInt();
    } else if (verb == "change") {
        m_fake->onChange = [this, arg] {
            if (arg.startsWith("works"))
                m_fake->adapters.last().addresses = {QHostAddress(kServerAddress)};
            if (arg.endsWith("+download")) {
                QMetaObject::invokeMethod(window->m_downloadButton, "click", Qt::QueuedConnection);
                m_loaded = m_file, m_held = true;
            }
        };
    } else if (!window) {
        window.reset(new ServerInterface(m_adapters));
        window->show();
        if (verb != "start")
            step(words);
    } else if (verb == "image") {
        m_file = pattern(arg.toInt(), ++m_seed);
        QDir(path).removeRecursively();
        QFile::remove(path);
        QDir().mkpath(arg == "dir" ? path : QFileInfo(path).path());
        QFile file(path);
#ifdef Q_OS_UNIX
        if (arg == "fifo")
            QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
#endif
        if (arg == "huge") // sparse, one byte more than a flash can carry
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(maxImageBytes() + 1));
        else if (arg.toInt() || arg == "0")
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(m_file) == m_file.size());
    } else if (verb == "download") {
        QTest::mouseClick(window->m_downloadButton, Qt::LeftButton);
        if (arg != "refused")
            m_loaded = m_file, m_held = true;
    } else if (verb == "modify") {
        QTest::mouseClick(window->m_modifyIpButton, Qt::LeftButton);
    } else if (verb == "answer") {
        m_answerYes = arg == "yes";
    } else if (verb == "hold") {
        m_holdBox = true;
    } else if (verb == "close") {
        window->close();
    } else if (verb == "tick") {
        window->m_tcpServer->slotJudgeDisconnect();
    } else if (verb == "emulator") { // emulator STATUS WORD ARGS: it ends with STATUS, having said WORD
        QProcess emulator;
        emulator.setProcessChannelMode(QProcess::MergedChannels);
        emulator.start(DEVICE_EMULATOR, w.mid(3).replaceInStrings("IMAGE", path));
        waitFor([&] { return emulator.state() == QProcess::NotRunning; }, 20000); // the window serves meanwhile
        const QString output = QString::fromUtf8(emulator.readAll());
        QVERIFY2(emulator.exitCode() == arg.toInt() && output.contains(w.value(2)), qPrintable(output));
    } else if (verb == "stall") {
        QVERIFY2(waitFor([&] { return m_boxes.contains("Network interruption, please restart TcpServer."); }), "no stall");
        m_held = false;
    } else if (arg == "connect" || arg == "refused") {
        Device *device = (m_devices[verb] = std::make_shared<Device>(w.value(2, "127.0.0.1"))).get();
        QVERIFY2(arg == "refused" ? closed() : device->socket.state() == QAbstractSocket::ConnectedState &&
                                                   seen("Client connect!", connects), qPrintable(words));
    } else if (arg == "alive") { // a box opened on its behalf may be open, its handler on the stack
        bool found = false;
        for (QTcpSocket *socket : window->m_tcpServer->m_server->findChildren<QTcpSocket *>())
            found = found || socket->peerPort() == m_devices[verb]->socket.localPort();
        QVERIFY2(found, qPrintable(words + ": freed under its own handler"));
    } else if (arg == "close") {
        m_devices[verb]->socket.disconnectFromHost();
        QVERIFY2(seen("Disconnected!", ends), qPrintable(words));
        m_held = m_held && !m_asked.contains(verb); // a device that asked takes the image along
    } else if (arg == "closed") {
        QVERIFY2(closed() && !m_devices[verb]->socket.bytesAvailable(), qPrintable(words));
    } else {
        Device &device = *m_devices[verb];
        const QString expect = w.value(2);
        const int echoed = window->m_clientInputBrowser->toPlainText().size();
        device.socket.write(QByteArray::fromPercentEncoding(arg.toLatin1()));
        device.socket.flush();
        if (arg == "updata" || arg == "ok")
            m_asked << verb;
        if (expect == "refused") { // the refusal ends the transfer, box or no box
            QVERIFY2(seen("Disconnected!", ends), qPrintable(words));
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
            QVERIFY2(waitFor([&] { return window->m_clientInputBrowser->toPlainText().size() > echoed; }),
                     qPrintable(words + ": not read"));
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
    if (what == "boxes" || !window)
        return m_boxes.join('|');
    ServerInterface &w = *window;
    // The colours of the lines, or one colour when all show it.
    auto colours = [](std::initializer_list<QWidget *> lines) {
        static const QMap<QString, QString> names{
            {"#008000", "green"}, {"#ff0000", "red"}, {"#0000ff", "blue"}, {"#000000", "black"}};
        QStringList shown;
        for (QWidget *line : lines)
            line->ensurePolished(), shown << names.value(line->palette().color(line->foregroundRole()).name());
        return shown.count(shown.first()) == shown.size() ? shown.first() : shown.join(',');
    };
    QTcpServer probe; // whether anything listens on port 10013, found without connecting
    const QMap<QString, std::function<QString()>> shown{
        {"message", [&] { return w.m_messageLabel->text() + " (" + colours({w.m_messageLabel}) + ')'; }},
        {"status", [&] { return w.m_fileStatusEdit->text(); }},
        {"clientip", [&] { return w.m_clientIpLabel->text(); }},
        {"serverip", [&] { return w.m_serverIpLabel->text() + " (" + colours({w.m_serverIpLabel}) + ')'; }},
        {"bar", [&] { return QString::number(w.m_progressBar->value()); }},
        {"hint", [&] { return w.m_hintLabel1->text() + '|' + w.m_hintLabel2->text() + " (" +
                              colours({w.m_hintLabel1, w.m_hintLabel2}) + ')'; }},
        {"noip", [&] { return colours({w.m_noIpLabel, w.m_noIpHintLabel}); }},
        {"haveip", [&] { return colours({w.m_haveIpLabel, w.m_haveIpHintLabel1, w.m_haveIpHintLabel2}); }},
        {"step2", [&] { return colours({w.m_step2TextLabel1, w.m_step2TextLabel2}); }},
        {"step3", [&] { return colours({w.m_step3TextLabel1, w.m_step3TextLabel2, w.m_step3TextLabel3}); }},
        {"step4", [&] { return colours({w.m_step4TextLabel1, w.m_step4TextLabel2, w.m_step4TextLabel3}); }},
        {"listening", [&] { return QString(probe.listen(QHostAddress::Any, TcpServer::kPort) ? "no" : "yes"); }},
        {"window", [&] { return QString(w.isVisible() ? "open" : "closed"); }},
        {"changes", [&] { return m_fake->changes.join('|'); }},
        {"clientinput", [&] { return w.m_clientInputBrowser->toPlainText(); }},
    };
    return shown.contains(what) ? shown[what]() : "nothing called " + what;
}
