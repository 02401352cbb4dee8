#include "session.h"

#include "image/imagefile.h"
#include "server/protocol.h"
#include "server/tcpserver.h"
#include "window/serverinterface.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

#include <sys/stat.h>

namespace {

const int kWaitMs = 5000;

// Runs the event loop until `done` or the time is up; says which.
bool waitFor(const std::function<bool()> &done, int ms = kWaitMs)
{
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

void collect(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        debugLines() << message;
    else
        fprintf(stderr, "%s\n", qPrintable(message));
}

QByteArray unescape(const QString &text)
{
    QByteArray out = text.toLatin1();
    out.replace("\\n", "\n").replace("\\r", "\r").replace("\\0", QByteArray(1, '\0'));
    return out;
}

// One colour when all lines show it, else each line's.
QString colours(std::initializer_list<QWidget *> widgets)
{
    QStringList names;
    for (QWidget *widget : widgets)
        names << colourOf(widget);
    return names.count(names.first()) == names.size() ? names.first() : names.join(QLatin1Char(','));
}

} // namespace

QStringList &debugLines()
{
    static QStringList lines;
    return lines;
}

Boxes::Boxes()
{
    connect(&m_timer, &QTimer::timeout, this, &Boxes::poll);
    m_timer.start(5);
}

void Boxes::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box)
        return;
    if (!m_seen.contains(box)) {
        m_seen << box;
        texts << box->text();
        titles << box->windowTitle() + (box->defaultButton() && box->defaultButton() == box->button(QMessageBox::No) ? " (No)" : "");
        if (hold && whileOpen) {
            // The rest of the test runs inside this box's event loop.
            m_timer.stop();
            whileOpen();
            m_timer.start(5);
        }
    }
    if (hold)
        return;
    m_seen.removeAll(box);
    if (QAbstractButton *button = box->button(answerYes ? QMessageBox::Yes : QMessageBox::No))
        button->click();
    else
        box->button(QMessageBox::Ok)->click();
}

Device::Device(const QString &host)
{
    socket.connectToHost(host, protocol::kPort);
    waitFor([&] { return socket.state() != QAbstractSocket::ConnectingState &&
                         socket.state() != QAbstractSocket::HostLookupState; });
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
    for (char &byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = char(state >> 24);
    }
    return bytes;
}

void writeImage(const QByteArray &bytes)
{
    const QString path = imageFilePath();
    QDir(path).removeRecursively();
    QFile::remove(path);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the test image %s", qPrintable(path));
}

QString colourOf(QWidget *widget)
{
    widget->ensurePolished();
    const QString name = widget->palette().color(widget->foregroundRole()).name();
    const QMap<QString, QString> names = {
        {"#008000", "green"}, {"#ff0000", "red"}, {"#0000ff", "blue"}, {"#000000", "black"}};
    return names.value(name, name);
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

bool portListening()
{
    QTcpServer probe;
    return !probe.listen(QHostAddress::Any, protocol::kPort) && probe.serverError() == QAbstractSocket::AddressInUseError;
}

Session::Session()
{
    debugLines().clear();
    qInstallMessageHandler(collect);
    QFile::remove(imageFilePath());
}

Session::~Session()
{
    TcpServer::watchPeriodMsec = 500;
    ServerInterface::clientInputLimit = 8 * 1024 * 1024;
    boxes.hold = false;
    m_devices.clear();
    window.reset();
    for (const QString &link : qAsConst(m_links))
        runProgram(QStringLiteral("ip"), {"link", "delete", link});
    qInstallMessageHandler(nullptr);
}

void Session::verify(const QString &script, const QStringList &checks)
{
    run(script);
    for (const QString &check : checks) {
        if (QTest::currentTestFailed())
            return;
        const QString what = check.section(QLatin1Char('='), 0, 0);
        const QString value = check.section(QLatin1Char('='), 1);
        QTRY_COMPARE_WITH_TIMEOUT(what + "=" + show(what), what + "=" + value, kWaitMs);
    }
}

void Session::run(const QString &script)
{
    m_steps = script.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (m_next = 0; m_next < m_steps.size() && !QTest::currentTestFailed();)
        step(m_steps.at(m_next++).trimmed());
    if (!window && !QTest::currentTestFailed())
        step(QStringLiteral("start"));
}

void Session::runUntilRelease()
{
    while (m_next < m_steps.size() && !QTest::currentTestFailed()) {
        const QString words = m_steps.at(m_next++).trimmed();
        if (words == QLatin1String("release"))
            break;
        step(words);
    }
    boxes.hold = false;
}

// The steps:
//   adapter NAME ADDRESS|-     before start; "_" in NAME stands for a blank
//   system                     the window uses the machine's own adapters
//   ip ARGS                    runs ip (the test runs in a namespace of its own)
//   port taken|free            another program holds port 10013, or lets it go
//   change works|fails|works+download
//                              what ModifyIP's address change does; the last
//                              also queues a Download click meanwhile
//   start                      the window opens (else at the first other step)
//   image N|none|dir|fifo|huge the image file: N pattern bytes, or unusable
//   download [refused]         clicks Download (which loads, or refuses)
//   modify                     clicks ModifyIP
//   answer yes|no; close window
//   hold ... release           the next box stays open during the steps between
//   watch MS; cap CHARS        the transfer watch's period, the ClientInput limit
//   tick                       the transfer watch ticks now, early or not
//   stall                      waits for the transfer watch's box
//   D connect [HOST]|refused|close|closed
//                              device D connects (and is taken, or is closed
//                              at once), closes, or is closed by the server
//   D REQUEST len|N|-|refused  D sends REQUEST (\n \r \0 allowed) and gets the
//                              length it was told, block N of that image,
//                              nothing (the next answer must follow at once),
//                              or the refusal of a device that asks too early
void Session::step(const QString &words)
{
    const QStringList w = words.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString verb = w.value(0), arg = w.value(1);
    if (verb == "adapter") {
        NetworkAdapter adapter;
        adapter.name = QString(arg).replace(QLatin1Char('_'), QLatin1Char(' '));
        for (const QString &address : w.value(2).split(QLatin1Char(','), Qt::SkipEmptyParts))
            if (address != "-")
                adapter.addresses << QHostAddress(address);
        adapters.adapters << adapter;
    } else if (verb == "port") {
        m_portHolder.reset(arg == "taken" ? new QTcpServer : nullptr);
        QVERIFY(!m_portHolder || m_portHolder->listen(QHostAddress::Any, protocol::kPort));
    } else if (verb == "system") {
        m_adapters = NetworkAdapters::system();
    } else if (verb == "ip") {
        QVERIFY2(runProgram(QStringLiteral("ip"), w.mid(1)) == 0, qPrintable(words));
        if (arg == "link" && w.value(2) == "add")
            m_links << w.value(3);
    } else if (verb == "watch") {
        TcpServer::watchPeriodMsec = arg.toInt();
    } else if (verb == "cap") {
        ServerInterface::clientInputLimit = arg.toInt();
    } else if (verb == "change") {
        adapters.onChange = [this, arg] {
            if (arg.startsWith("works"))
                adapters.adapters.last().addresses = {QHostAddress(kServerAddress)};
            if (arg.endsWith("+download")) {
                QMetaObject::invokeMethod(window->m_downloadButton, "click", Qt::QueuedConnection);
                m_loaded = m_file;
                m_held = true;
            }
        };
    } else if (!window) {
        window.reset(new ServerInterface(m_adapters ? m_adapters : &adapters));
        window->show();
        if (verb != "start")
            step(words);
    } else if (verb == "image") {
        m_file = arg.toInt() > 0 ? pattern(arg.toInt(), ++m_seed) : QByteArray();
        const QString path = imageFilePath();
        QDir(path).removeRecursively();
        QFile::remove(path);
        QDir().mkpath(QFileInfo(path).path());
        if (arg == "dir")
            QDir().mkpath(path);
        else if (arg == "fifo")
            QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        else if (arg == "huge") // sparse: one byte more than a flash can carry
            QVERIFY(QFile(path).open(QIODevice::WriteOnly) && QFile(path).resize(maxImageBytes() + 1));
        else if (arg != "none")
            writeImage(m_file);
    } else if (verb == "download") {
        QTest::mouseClick(window->m_downloadButton, Qt::LeftButton);
        if (arg != "refused") {
            m_loaded = m_file;
            m_held = true;
        }
    } else if (verb == "modify") {
        QTest::mouseClick(window->m_modifyIpButton, Qt::LeftButton);
    } else if (verb == "answer") {
        boxes.answerYes = arg == "yes";
    } else if (verb == "close") {
        window->close();
    } else if (verb == "hold") {
        boxes.hold = true;
        boxes.whileOpen = [this] { runUntilRelease(); };
    } else if (verb == "tick") {
        window->m_tcpServer->slotJudgeDisconnect();
    } else if (verb == "stall") {
        const QString text = QStringLiteral("Network interruption, please restart TcpServer.");
        QVERIFY2(waitFor([&] { return boxes.texts.contains(text); }), "the transfer watch saw no stall");
        m_held = false;
    } else if (arg == "connect" || arg == "refused") {
        const int connects = debugLines().count("Client connect!");
        m_devices[verb].reset(new Device(w.value(2, QStringLiteral("127.0.0.1"))));
        if (arg == "refused")
            QVERIFY2(m_devices[verb]->closedByServer(), qPrintable(words + ": the server kept it"));
        else
            QVERIFY2(m_devices[verb]->socket.state() == QAbstractSocket::ConnectedState &&
                         waitFor([&] { return debugLines().count("Client connect!") > connects; }),
                     qPrintable(words + ": the server did not take it"));
    } else if (arg == "close") {
        const int ends = debugLines().count("Disconnected!");
        m_devices[verb]->socket.disconnectFromHost();
        QVERIFY2(waitFor([&] { return debugLines().count("Disconnected!") > ends; }),
                 qPrintable(words + ": the server did not notice"));
        // A device that asked ends the transfer, and with it the image.
        m_held = m_held && !m_asked.contains(verb);
    } else if (arg == "closed") {
        QVERIFY2(m_devices[verb]->closedByServer(), qPrintable(words + ": still open"));
        QCOMPARE(m_devices[verb]->socket.bytesAvailable(), 0);
    } else {
        Device &device = *m_devices[verb];
        const QByteArray request = unescape(arg);
        const QString expect = w.value(2);
        QTextBrowser *echo = window->m_clientInputBrowser;
        const int echoed = echo->toPlainText().size();
        const int ends = debugLines().count("Disconnected!");
        device.send(request);
        if (arg == "updata" || arg == "ok")
            m_asked << verb;
        if (expect == "refused") {
            // The refusal ends the connection's transfer, box or no box.
            QVERIFY2(waitFor([&] { return debugLines().count("Disconnected!") > ends; }),
                     qPrintable(words + ": not refused"));
        } else if (expect == "len") {
            m_told[verb] = m_loaded;
            QCOMPARE(device.take(4), protocol::lengthHeader(m_loaded.size()));
        } else if (expect != "-") {
            const QByteArray image = m_told.value(verb, m_loaded);
            QByteArray block = image.mid(expect.toInt() * 1024, 1024);
            QVERIFY2(!block.isEmpty(), qPrintable(words + ": no such block"));
            block.append(QByteArray(1024 - block.size(), '\0'));
            QVERIFY2(device.take(1024) == block, qPrintable(words + ": not that block"));
        } else if (m_held) {
            // Nothing comes back: wait until the server has read (and echoed) it.
            QVERIFY2(waitFor([&] { return echo->toPlainText().size() > echoed; }),
                     qPrintable(words + ": the server did not read it"));
        }
    }
}

QString Session::show(const QString &what)
{
    ServerInterface &w = *window;
    if (what == "message") return w.m_messageLabel->text();
    if (what == "message.colour") return colourOf(w.m_messageLabel);
    if (what == "status") return w.m_fileStatusEdit->text();
    if (what == "clientip") return w.m_clientIpLabel->text();
    if (what == "serverip") return w.m_serverIpLabel->text();
    if (what == "serverip.colour") return colourOf(w.m_serverIpLabel);
    if (what == "bar") return QString::number(w.m_progressBar->value());
    if (what == "hint") return w.m_hintLabel1->text() + "|" + w.m_hintLabel2->text();
    if (what == "hint.colour") return colours({w.m_hintLabel1, w.m_hintLabel2});
    if (what == "noip") return colours({w.m_noIpLabel, w.m_noIpHintLabel});
    if (what == "haveip") return colours({w.m_haveIpLabel, w.m_haveIpHintLabel1, w.m_haveIpHintLabel2});
    if (what == "step2") return colours({w.m_step2TextLabel1, w.m_step2TextLabel2});
    if (what == "step3") return colours({w.m_step3TextLabel1, w.m_step3TextLabel2, w.m_step3TextLabel3});
    if (what == "step4") return colours({w.m_step4TextLabel1, w.m_step4TextLabel2, w.m_step4TextLabel3});
    if (what == "boxes") return boxes.texts.join(QLatin1Char('|'));
    if (what == "titles") return boxes.titles.join(QLatin1Char('|'));
    if (what == "listening") return portListening() ? "yes" : "no";
    if (what == "window") return w.isVisible() ? "open" : "closed";
    if (what == "changes") return adapters.changes.join(QLatin1Char('|'));
    if (what == "clientinput") return w.m_clientInputBrowser->toPlainText();
    if (what.startsWith("ipv4:")) {
        QString out;
        runProgram(QStringLiteral("ip"), {"-4", "-o", "address", "show", "dev", what.mid(5)}, &out);
        QStringList addresses;
        for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            addresses << line.section(QLatin1String(" inet "), 1).section(QLatin1Char(' '), 0, 0);
        return addresses.join(QLatin1Char(','));
    }
    if (what == "preview") {
        // As the pane shows the loaded file: hex pairs, a blank after each,
        // at most 334 bytes, blanks up to 999 characters for a short file.
        QString file = QString::fromLatin1(m_file.left(334).toHex(' ').toUpper());
        file = m_file.size() >= 334 ? file : (file + ' ').leftJustified(999, ' ');
        const QString pane = w.m_serverOutputBrowser->toPlainText();
        return pane == file ? QStringLiteral("file") : pane;
    }
    return "no such thing to show: " + what;
}
