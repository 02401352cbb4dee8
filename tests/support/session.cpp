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
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

#include <functional>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

// The adapter list the window sees, and what an address change does to it.
struct FakeAdapters : NetworkAdapters
{
    QList<NetworkAdapter> adapters;
    QStringList changes; // "adapter address mask" of each change asked for
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
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

namespace {

void collect(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        debugLines() << message;
    else
        fprintf(stderr, "%s\n", qPrintable(message));
}

// The colours of the lines, or one colour when all show it.
QString colours(std::initializer_list<QWidget *> lines)
{
    static const QMap<QString, QString> names{
        {"#008000", "green"}, {"#ff0000", "red"}, {"#0000ff", "blue"}, {"#000000", "black"}};
    QStringList shown;
    for (QWidget *line : lines) {
        line->ensurePolished();
        shown << names.value(line->palette().color(line->foregroundRole()).name());
    }
    return shown.count(shown.first()) == shown.size() ? shown.first() : shown.join(',');
}

} // namespace

Device::Device(const QString &host)
{
    socket.connectToHost(host, TcpServer::kPort);
    waitFor([&] { return socket.state() == QAbstractSocket::ConnectedState ||
                         socket.state() == QAbstractSocket::UnconnectedState; });
    // Each request leaves at once as a segment of its own, as the device's do.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

void Device::send(const QByteArray &request)
{
    socket.write(request);
    socket.flush();
}

QByteArray Device::take(int count)
{
    waitFor([&] { return socket.bytesAvailable() >= count; });
    return socket.read(count);
}

bool Device::closedByServer()
{
    return waitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; });
}

QByteArray pattern(int length, int seed)
{
    QByteArray bytes(length, '\0');
    quint32 state = 0x9E3779B9u * quint32(seed + 1);
    for (char &byte : bytes)
        byte = char((state = state * 1664525u + 1013904223u) >> 24);
    return bytes;
}

QByteArray lengthHeaderOf(int length)
{
    QByteArray header;
    for (int shift = 0; shift < 32; shift += 8)
        header.append(char(quint32(length) >> shift));
    return header;
}

void writeImage(const QByteArray &bytes, QString path)
{
    path = path.isEmpty() ? imageFilePath() : path;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

bool portListening()
{
    QTcpServer probe;
    return !probe.listen(QHostAddress::Any, TcpServer::kPort) && probe.serverError() == QAbstractSocket::AddressInUseError;
}

int runProgram(const QString &program, const QStringList &arguments, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(10000);
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QStringList &debugLines()
{
    static QStringList lines;
    return lines;
}

Session::Session()
    : m_fake(new FakeAdapters)
    , m_adapters(m_fake.get())
{
    debugLines().clear();
    qInstallMessageHandler(collect);
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

// Closes each box the program opens, with Ok or the answer chosen, after
// noting its text. A held box stays open while the script runs on inside its
// event loop, up to the step "release".
void Session::closeBoxes()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box)
        return;
    if (!m_seenBoxes.contains(box)) {
        m_seenBoxes << box;
        QCOMPARE(box->windowTitle(), QStringLiteral("TcpServer"));
        const bool question = box->button(QMessageBox::No);
        QVERIFY(!question || box->defaultButton() == box->button(QMessageBox::No));
        m_boxes << box->text();
        if (m_holdBox) {
            m_boxTimer.stop();
            for (QString words; m_next < m_steps.size() && !QTest::currentTestFailed() &&
                                (words = m_steps.at(m_next++).trimmed()) != "release";)
                step(words);
            m_holdBox = false;
            m_boxTimer.start(5);
        }
    }
    m_seenBoxes.removeAll(box);
    box->button(box->button(QMessageBox::Ok) ? QMessageBox::Ok : m_answerYes ? QMessageBox::Yes : QMessageBox::No)
        ->click();
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

// The steps:
//   adapter NAME ADDRESS,...|- before start; "_" in NAME stands for a blank
//   system; ip ARGS            the machine's own adapters (in the test's own
//                              network namespace), and ip to make them
//   port taken|free            another program holds port 10013, or lets go
//   change works|fails|works+download
//                              what ModifyIP's address change does; the last
//                              also queues a Download click meanwhile
//   start                      the window opens (else at the first other step)
//   image N|none|dir|fifo|huge the image file: N pattern bytes, or unusable
//   download [refused]; modify; answer yes|no; close window
//   hold ... release           the next box stays open during the steps between
//   watch MS; cap CHARS        the transfer watch's period; the ClientInput limit
//   tick; stall                the watch ticks now; waits for its box
//   D connect [HOST]|refused|close|closed|alive
//                              device D connects and is taken, or is closed at
//                              once; closes; is closed by the server; its
//                              connection object is still there
//   D REQUEST len|N|-|refused  D sends REQUEST (\n \r \0 allowed) and gets the
//                              length it was told, block N of that image,
//                              nothing (the next answer must follow at once),
//                              or the refusal of a device that asks too early
void Session::step(const QString &words)
{
    const QStringList w = words.split(' ', Qt::SkipEmptyParts);
    const QString verb = w.value(0), arg = w.value(1);
    if (verb == "adapter") {
        NetworkAdapter adapter{QString(arg).replace('_', ' '), {}};
        for (const QString &address : w.value(2).split(',', Qt::SkipEmptyParts))
            if (address != "-")
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
    } else if (verb == "watch") {
        TcpServer::watchPeriodMsec = arg.toInt();
    } else if (verb == "cap") {
        ServerInterface::clientInputLimit = arg.toInt();
    } else if (verb == "change") {
        m_fake->onChange = [this, arg] {
            if (arg.startsWith("works"))
                m_fake->adapters.last().addresses = {QHostAddress(kServerAddress)};
            if (arg.endsWith("+download")) {
                QMetaObject::invokeMethod(window->m_downloadButton, "click", Qt::QueuedConnection);
                m_loaded = m_file;
                m_held = true;
            }
        };
    } else if (!window) {
        window.reset(new ServerInterface(m_adapters));
        window->show();
        if (verb != "start")
            step(words);
    } else if (verb == "image") {
        const QString path = imageFilePath();
        m_file = pattern(arg.toInt(), ++m_seed);
        QDir(path).removeRecursively();
        QFile::remove(path);
        if (arg == "dir")
            QDir().mkpath(path);
#ifdef Q_OS_UNIX
        else if (arg == "fifo")
            QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
#endif
        else if (arg == "huge") // sparse, one byte more than a flash can carry
            QVERIFY(QFile(path).open(QIODevice::WriteOnly) && QFile::resize(path, maxImageBytes() + 1));
        else if (arg != "none")
            writeImage(m_file);
    } else if (verb == "download") {
        QTest::mouseClick(window->m_downloadButton, Qt::LeftButton);
        if (arg != "refused")
            m_loaded = m_file, m_held = true;
    } else if (verb == "modify") {
        QTest::mouseClick(window->m_modifyIpButton, Qt::LeftButton);
    } else if (verb == "answer") {
        m_answerYes = arg == "yes";
    } else if (verb == "close") {
        window->close();
    } else if (verb == "hold") {
        m_holdBox = true;
    } else if (verb == "tick") {
        window->m_tcpServer->slotJudgeDisconnect();
    } else if (verb == "stall") {
        QVERIFY2(waitFor([&] { return m_boxes.contains("Network interruption, please restart TcpServer."); }),
                 "no stall seen");
        m_held = false;
    } else if (arg == "connect" || arg == "refused") {
        const int connects = debugLines().count("Client connect!");
        Device *device = (m_devices[verb] = std::make_shared<Device>(w.value(2, "127.0.0.1"))).get();
        if (arg == "refused")
            QVERIFY2(device->closedByServer(), qPrintable(words + ": kept"));
        else
            QVERIFY2(device->socket.state() == QAbstractSocket::ConnectedState &&
                         waitFor([&] { return debugLines().count("Client connect!") > connects; }),
                     qPrintable(words + ": not taken"));
    } else if (arg == "alive") {
        // A box opened on its behalf may be open, its handler on the stack.
        bool found = false;
        for (QTcpSocket *socket : window->m_tcpServer->m_server->findChildren<QTcpSocket *>())
            found = found || socket->peerPort() == m_devices[verb]->socket.localPort();
        QVERIFY2(found, qPrintable(words + ": freed under its own handler"));
    } else if (arg == "close") {
        const int ends = debugLines().count("Disconnected!");
        m_devices[verb]->socket.disconnectFromHost();
        QVERIFY2(waitFor([&] { return debugLines().count("Disconnected!") > ends; }), qPrintable(words));
        m_held = m_held && !m_asked.contains(verb); // a device that asked takes the image along
    } else if (arg == "closed") {
        QVERIFY2(m_devices[verb]->closedByServer(), qPrintable(words + ": still open"));
        QCOMPARE(m_devices[verb]->socket.bytesAvailable(), 0);
    } else {
        Device &device = *m_devices[verb];
        QByteArray request = arg.toLatin1();
        request.replace("\\n", "\n").replace("\\r", "\r").replace("\\0", QByteArray(1, '\0'));
        const QString expect = w.value(2);
        const int echoed = window->m_clientInputBrowser->toPlainText().size();
        const int ends = debugLines().count("Disconnected!");
        device.send(request);
        if (arg == "updata" || arg == "ok")
            m_asked << verb;
        if (expect == "refused") { // the refusal ends the transfer, box or no box
            QVERIFY2(waitFor([&] { return debugLines().count("Disconnected!") > ends; }), qPrintable(words));
        } else if (expect == "len") {
            m_told[verb] = m_loaded;
            QCOMPARE(device.take(4), lengthHeaderOf(m_loaded.size()));
        } else if (expect != "-") {
            QByteArray block = m_told.value(verb, m_loaded).mid(expect.toInt() * 1024, 1024);
            QVERIFY2(!block.isEmpty(), qPrintable(words + ": no such block"));
            QVERIFY2(device.take(1024) == block.append(QByteArray(1024 - block.size(), '\0')), qPrintable(words));
        } else if (m_held) { // nothing comes back: wait until the server has read (and echoed) it
            QVERIFY2(waitFor([&] { return window->m_clientInputBrowser->toPlainText().size() > echoed; }),
                     qPrintable(words + ": not read"));
        }
    }
}

QString Session::show(const QString &what)
{
    if (what.startsWith("ipv4:")) {
        QString out;
        QStringList addresses;
        runProgram("ip", {"-4", "-o", "address", "show", "dev", what.mid(5)}, &out);
        for (const QString &line : out.split('\n', Qt::SkipEmptyParts))
            addresses << line.section(" inet ", 1).section(' ', 0, 0);
        return addresses.join(',');
    }
    if (what == "boxes" || !window)
        return m_boxes.join('|');
    ServerInterface &w = *window;
    const QMap<QString, std::function<QString()>> shown{
        {"message", [&] { return w.m_messageLabel->text(); }},
        {"message.colour", [&] { return colours({w.m_messageLabel}); }},
        {"status", [&] { return w.m_fileStatusEdit->text(); }},
        {"clientip", [&] { return w.m_clientIpLabel->text(); }},
        {"serverip", [&] { return w.m_serverIpLabel->text(); }},
        {"serverip.colour", [&] { return colours({w.m_serverIpLabel}); }},
        {"bar", [&] { return QString::number(w.m_progressBar->value()); }},
        {"hint", [&] { return w.m_hintLabel1->text() + '|' + w.m_hintLabel2->text(); }},
        {"hint.colour", [&] { return colours({w.m_hintLabel1, w.m_hintLabel2}); }},
        {"noip", [&] { return colours({w.m_noIpLabel, w.m_noIpHintLabel}); }},
        {"haveip", [&] { return colours({w.m_haveIpLabel, w.m_haveIpHintLabel1, w.m_haveIpHintLabel2}); }},
        {"step2", [&] { return colours({w.m_step2TextLabel1, w.m_step2TextLabel2}); }},
        {"step3", [&] { return colours({w.m_step3TextLabel1, w.m_step3TextLabel2, w.m_step3TextLabel3}); }},
        {"step4", [&] { return colours({w.m_step4TextLabel1, w.m_step4TextLabel2, w.m_step4TextLabel3}); }},
        {"listening", [&] { return QString(portListening() ? "yes" : "no"); }},
        {"window", [&] { return QString(w.isVisible() ? "open" : "closed"); }},
        {"changes", [&] { return m_fake->changes.join('|'); }},
        {"clientinput", [&] { return w.m_clientInputBrowser->toPlainText(); }},
    };
    return shown.contains(what) ? shown[what]() : "nothing called " + what;
}
