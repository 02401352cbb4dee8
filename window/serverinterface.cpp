#include "window/serverinterface.h"
#include "ui_serverinterface.h"

#include "adapter/restore.h"
#include "adapter/firewall.h"
#include "adapter/networkadapters.h"
#include "image/flashimage.h"
#include "image/imagefile.h"
#include "record/databasesender.h"
#include "session/flashsession.h"
#include "record/flashrecord.h"
#include "window/colours.h"
#include "window/flashstatus.h"
#include "window/hexview.h"
#include "window/messages.h"
#include "window/storedtextpane.h"
#include "window/windowgeometry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QDir>
#include <QDebug>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <QtMath>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QDesktopWidget>
#endif

namespace {
// The address change may hold the window up this long, and no longer.
const int kChangeTimeoutMsec = 30000;
// At the end, the record's rows that wait are tried once more, this long at most.
const int kLastRecordAttemptMsec = 2000;
// At the end, the flashes still in progress are ended; their reports come within this.
const int kStopMsec = 1000;
} // namespace

ServerInterface::ServerInterface(QWidget *parent)
    : ServerInterface(Options(), NetworkAdapters::system(), parent)
{
}

ServerInterface::ServerInterface(const Options &options, NetworkAdapters *adapters, QWidget *parent)
    : QMainWindow(parent)
    , m_options(options)
    , ui(new Ui::ServerInterface)
    , m_adapterSearch(adapters)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Tcp Server"));
    buildLayout();
    m_status = new FlashStatus(statusBar());

    FlashSession::Options session;
    session.server = m_options.server;
    session.recordPath = m_options.logPath;
    session.stoppedResult = QStringLiteral("window closed mid-flash");
    session.station = m_options.station;
    session.databaseUrl = m_options.databaseUrl;
    m_session = new FlashSession(session, this);
    if (!m_session->databaseProblem().isEmpty())
        m_status->showDatabase(m_session->databaseProblem() + QLatin1Char('.'));
    if (DatabaseSender *database = m_session->database()) {
        // Said while it cannot be reached, with the rows that wait, once a second.
        auto *watch = new QTimer(this);
        watch->setInterval(1000);
        connect(database, &DatabaseSender::unreachable, this, [this, database, watch](const QString &why) {
            auto show = [this, database, why] {
                m_status->showDatabase(QStringLiteral("The line's database cannot be reached (%1); %2 rows wait.")
                                               .arg(why)
                                               .arg(database->waiting()));
            };
            show();
            watch->disconnect();
            connect(watch, &QTimer::timeout, this, show);
            watch->start();
        });
        connect(database, &DatabaseSender::reached, this, [this, watch](int caughtUp) {
            watch->stop();
            m_status->showDatabase(
                    QStringLiteral("The line's database is reached again: %1 rows caught up.").arg(caughtUp));
        });
    }
    connect(this, &ServerInterface::sendDataSig, m_session, &FlashSession::serve);
    // Boxes open once the session's report is handled, never inside it.
    connect(m_session, &FlashSession::hintSig, this, &ServerInterface::slotHintMessage, Qt::QueuedConnection);
    connect(m_session, &FlashSession::deviceConnected, this, &ServerInterface::showDevice);
    connect(m_session, &FlashSession::requestsEchoed, this, &ServerInterface::showEcho);
    connect(m_session, &FlashSession::blockSent, this, &ServerInterface::showBlock);
    connect(m_session, &FlashSession::progress, this,
            [this](const DeviceConnection &, int percent) { m_progressBar->setValue(percent); });
    connect(m_session, &FlashSession::transferEnded, this, &ServerInterface::showTransferEnded);
    connect(m_session, &FlashSession::listening, this, [this] {
        if (m_downloadWhenListening)
            loadImage();
        m_downloadWhenListening = false;
    });
    connect(m_session, &FlashSession::listenFailed, this, [this] {
        m_downloadWhenListening = false;
        tellPortInUse();
    });
    if (FlashRecord *record = m_session->record()) {
        if (!record->continuedFrom().isEmpty())
            m_status->showNote(record->continuationNote());
        connect(record, &FlashRecord::writeFailed, m_status, &FlashStatus::showRecordFailure);
        connect(record, &FlashRecord::written, m_status, &FlashStatus::clearRecordFailure);
        connect(record, &FlashRecord::delayed, m_status, &FlashStatus::showRecordDelay);
    }

    connect(m_downloadButton, &QPushButton::clicked, this, &ServerInterface::slotOpenFile);
    connect(m_modifyIpButton, &QPushButton::clicked, this, &ServerInterface::slotModify);
    startServer();
    showStartupHint();
    // Once everything the operator sees at the start is in place.
    setGeometry(initialGeometry());
    // The first thing a technician does, on the keyboard too.
    m_downloadButton->setFocus();
    // Once the window shows: a firewall that keeps the device out is said
    // before the technician waits at Step 3 for a device that cannot come.
    QTimer::singleShot(0, this, [this] {
        const FirewallVerdict verdict =
                checkFirewall(QCoreApplication::applicationFilePath(), protocol::kPort, m_adapterSearch.adapterName());
        if (verdict == FirewallVerdict::Blocks)
            m_status->showNote(QStringLiteral("Windows Firewall keeps the device out on this network: no rule lets "
                                              "TcpServer accept port 10013 here. Install TcpServer with its "
                                              "installer, or allow it on public networks."));
    });
}

ServerInterface::~ServerInterface()
{
    delete ui;
    // The session goes before the widgets it reports to.
    delete m_session;
    delete m_offscreenWidgets;
}

QRect ServerInterface::initialGeometry()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    const QSize desktop = QApplication::desktop()->size();
#else
    const QSize desktop = QGuiApplication::primaryScreen()->virtualSize();
#endif
    // The place and size are meant in the display's own pixels, whatever its
    // scale; the window is placed in Qt's logical ones.
    QScreen *screen = QGuiApplication::primaryScreen();
    const qreal scale = screen->devicePixelRatio();
    const QRect wanted = mainWindowGeometry(desktop * scale);
    if (QScreen *at = QGuiApplication::screenAt(wanted.topLeft() / scale))
        screen = at;
    const QRect available = screen->availableGeometry();
    // The size at which nothing scrolls: the content's whole minimum. Where
    // the screen has room for it, that minimum holds, so that the layout never
    // hands a box less than its content; only a dimension the screen is too
    // small for scrolls.
    for (QScrollArea *area : {m_stepsArea, m_contentArea})
        area->setMinimumSize(area->widget()->minimumSizeHint());
    QSize natural = minimumSizeHint();
    const bool wide = natural.width() <= available.width();
    const bool high = natural.height() <= available.height();
    // Content that scrolls sideways takes a scroll bar's height too.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    for (QScrollArea *area : {m_stepsArea, m_contentArea}) {
        const QSize content = area->widget()->minimumSizeHint();
        area->setMinimumSize(wide ? content.width() : 0, high ? content.height() + (wide ? 0 : bar) : 0);
    }
    if (high)
        natural.setHeight(minimumSizeHint().height());
    // Where the platform knows the frame before the window shows (Windows),
    // it is made room for.
    winId();
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    // Qt rounds the display's pixels to logical ones: the room is taken as the
    // most it can be, no more, so that the window never reaches beyond it.
    const QRect nativeAvailable(qCeil(available.x() * scale), qCeil(available.y() * scale),
                                qFloor(available.width() * scale), qFloor(available.height() * scale));
    const QMargins nativeFrame(qCeil(frame.left() * scale), qCeil(frame.top() * scale), qCeil(frame.right() * scale),
                               qCeil(frame.bottom() * scale));
    const QSize nativeNatural(qCeil(natural.width() * scale), qCeil(natural.height() * scale));
    return logicalGeometry(fitWindow(wanted, nativeNatural, nativeFrame, nativeAvailable), scale);
}

void ServerInterface::startServer()
{
    if (m_adapterSearch.adapterFound()) {
        if (!judgeServerIp()) {
            // A listed adapter with the wrong address: nothing listens until ModifyIP.
            setColour(m_haveIpLabel, Colour::Red);
            return;
        }
        setColour({m_haveIpLabel, m_haveIpHintLabel1, m_haveIpHintLabel2}, Colour::Green);
    }
    m_session->startListen();
}

void ServerInterface::ensureListening()
{
    if (!m_session->isListening())
        m_session->startListen();
}

void ServerInterface::tellPortInUse()
{
    m_messageLabel->setText(QStringLiteral("Port 10013 is in use by another program."));
    setColour(m_messageLabel, Colour::Red);
    // After the current event: at start-up the window is not shown yet.
    QMetaObject::invokeMethod(
            this,
            [this] {
                showInformation(this,
                                QStringLiteral("Port 10013 is in use by another program, so the device cannot "
                                               "reach TcpServer. Close that program (it may be another "
                                               "TcpServer), then press Download."));
            },
            Qt::QueuedConnection);
}

void ServerInterface::closeEvent(QCloseEvent *event)
{
    if (m_session->transferRunning() &&
        QMessageBox::question(this, QStringLiteral("TcpServer"),
                              QStringLiteral("A device is being flashed. If TcpServer closes now, the device is "
                                             "left half-written.\nClose TcpServer anyway?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    stopSession();
    offerToGiveBack();
    finishRecord();
    QMainWindow::closeEvent(event);
}

void ServerInterface::stopSession()
{
    // Every flash still in progress ends, so that the device starts over and
    // the record says so; every report on its way is in once the session
    // says it stopped (a second at most; the window goes on drawing meanwhile).
    QEventLoop loop;
    connect(m_session, &FlashSession::stopped, &loop, &QEventLoop::quit);
    QTimer::singleShot(kStopMsec, &loop, &QEventLoop::quit);
    m_session->stop();
    loop.exec();
}

QString ServerInterface::notePath() const
{
    return m_options.notePath.isEmpty() ? AdapterNote::defaultPath() : m_options.notePath;
}

bool ServerInterface::noteAdapterSettings()
{
    // The older note is the true original: a later ModifyIP keeps it.
    AdapterNote existing;
    QString failure;
    const AdapterNote::Reading reading = AdapterNote::read(notePath(), &existing, &failure);
    if (reading == AdapterNote::Read)
        return true;
    AdapterNote note = m_adapterSearch.adapters()->settingsOf(m_adapterSearch.adapterName());
    // Never a note of the address it is about to get.
    const auto ours = std::remove_if(note.addresses.begin(), note.addresses.end(),
                                     [](const AdapterNote::Address &entry) { return entry.address == kServerAddress; });
    note.addresses.erase(ours, note.addresses.end());
    // Something else in the note's place (a link, a pipe) is left alone.
    if (reading != AdapterNote::NotAFile && note.write(notePath(), &failure))
        return true;
    showInformation(this,
                    QStringLiteral("TcpServer could not note how the adapter %1 is set (%2: %3), so it could "
                                   "not give those settings back later, and leaves the adapter as it is. Give "
                                   "it the address 192.168.0.92 by hand.")
                            .arg(note.adapter, QDir::toNativeSeparators(notePath()), failure));
    return false;
}

void ServerInterface::offerToGiveBack()
{
    AdapterNote note;
    const RestoreOutcome due = restoreNeeded(m_adapterSearch.adapters(), notePath(), &note);
    if (due.kind == RestoreOutcome::LeftAlone || due.kind == RestoreOutcome::Unusable)
        qWarning().noquote() << due.text;
    if (due.kind != RestoreOutcome::Due)
        return;
    if (QMessageBox::question(this, QStringLiteral("TcpServer"),
                              QStringLiteral("ModifyIP gave the adapter %1 the address %2.\nGive it back its earlier "
                                             "settings now (%3)?")
                                      .arg(note.adapter, kServerAddress, note.describe()),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) != QMessageBox::Yes)
        return;
    showInformation(this, restoreAdapter(m_adapterSearch.adapters(), notePath(), note, kChangeTimeoutMsec).text);
}

void ServerInterface::finishRecord()
{
    FlashRecord *record = m_session->record();
    if (!record)
        return;
    QString reason;
    const int unwritten = m_session->finishRecord(
            QDeadlineTimer(kLastRecordAttemptMsec), [] { return false; }, &reason);
    if (unwritten > 0)
        showInformation(
                this,
                QStringLiteral("%1 of the flash record %2 could not be written: %3. The flashes "
                               "themselves are not affected; those rows are missing from the record.")
                        .arg(unwritten == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(unwritten),
                             QDir::toNativeSeparators(record->path()), reason));
}

void ServerInterface::slotOpenFile()
{
    if (m_adapterSearch.adapterFound() && !judgeServerIp()) {
        setColour({m_haveIpLabel, m_haveIpHintLabel1, m_haveIpHintLabel2}, Colour::Red);
        showInformation(this,
                        QStringLiteral("Please click the 'ModifyIP' button to modify the ServerIP address first."));
        return;
    }
    // An image loaded where no device can reach it would look ready and never
    // be served: it is loaded once the server listens. This also starts the
    // server when the address was put right outside the program after a
    // wrong-address start.
    if (!m_session->isListening()) {
        m_downloadWhenListening = true;
        m_session->startListen();
        return;
    }
    loadImage();
}

void ServerInterface::loadImage()
{
    const QString path = m_options.imagePath.isEmpty() ? imageFilePath() : m_options.imagePath;
    m_clientInputBrowser->clear();
    m_serverOutputBrowser->clear();
    m_clientInputChars = m_clientInputBrowser->document()->characterCount();
    m_progressBar->setValue(0);
    m_messageLabel->setText(QString());
    m_clientIpLabel->setText(QString());
    setColour({m_step3TextLabel1, m_step3TextLabel2, m_step3TextLabel3, m_step4TextLabel1, m_step4TextLabel2,
               m_step4TextLabel3},
              Colour::Black);

    // An image that cannot be read whole is no image: the device must never get
    // part of one as if it were all of it.
    const QSharedPointer<FlashImage> image = FlashImage::load(path);
    if (image->isLoaded()) {
        m_fileStatusEdit->setText(QStringLiteral("Reading data is complete......"));
        setColour({m_step2TextLabel1, m_step2TextLabel2}, Colour::Green);
    } else {
        qDebug() << "open EVB_File failed";
        m_fileStatusEdit->setText(QStringLiteral("Failed to read data."));
        setColour({m_step2TextLabel1, m_step2TextLabel2}, Colour::Red);
    }

    const QByteArray bytes = image->bytes();
    m_serverOutputBrowser->insertPlainText(hexView(bytes.constData(), int(bytes.size())));
    emit sendDataSig(image);

    m_fileStatusEdit->setCursorPosition(1);
    m_filePathEdit->setText(path);
    m_filePathEdit->setCursorPosition(1);
    m_status->showImage(image);
}

void ServerInterface::slotModify()
{
    if (judgeServerIp()) {
        showInformation(this, QStringLiteral("ServerIP address has been modified."));
        return;
    }

    // What is changed is noted first, so that it can be given back.
    if (m_adapterSearch.adapterFound() && !noteAdapterSettings())
        return;
    // Whatever the tool says, only a fresh search of the adapters decides.
    m_adapterSearch.adapters()->setStaticAddress(m_adapterSearch.adapterName(), kServerAddress, kServerMask,
                                                 kChangeTimeoutMsec);
    delayMsec(50);

    if (!m_adapterSearch.adapterFound()) {
        m_messageLabel->setText(QStringLiteral("Failed to get local connection ServerIP."));
        setColour(m_messageLabel, Colour::Red);
    } else if (judgeServerIp()) {
        setColour({m_haveIpLabel, m_haveIpHintLabel1, m_haveIpHintLabel2}, Colour::Green);
        m_serverIpLabel->setText(kServerAddress);
        m_messageLabel->setText(QStringLiteral("ServerIP modified successfully."));
        setColour({m_serverIpLabel, m_messageLabel}, Colour::Green);
    } else {
        setColour({m_haveIpLabel, m_haveIpHintLabel1, m_haveIpHintLabel2}, Colour::Red);
        m_messageLabel->setText(QStringLiteral("ServerIP fail to modify."));
        setColour(m_messageLabel, Colour::Red);
    }

    // A server that listens on the any-address serves whatever address the
    // adapter has now, and may be flashing a device or holding the image the
    // window reports as loaded: it stays. One is started where none listens.
    ensureListening();
}

void ServerInterface::showDevice(const DeviceConnection &device)
{
    m_clientIpLabel->setText(device.address);
    setColour({m_step3TextLabel1, m_step3TextLabel2, m_step3TextLabel3}, Colour::Green);
}

void ServerInterface::showBlock(const DeviceConnection &, int index, const QByteArray &block)
{
    setColour(m_messageLabel, Colour::Black);
    m_messageLabel->setText(index % 2 != 0 ? QStringLiteral("Downloading......") : QStringLiteral("Downloading..."));
    // The pane shows only the latest block.
    replacePaneText(m_serverOutputBrowser, hexView(block.constData(), int(block.size())));
}

void ServerInterface::showEcho(const DeviceConnection &, const QStringList &requests)
{
    for (const QString &request : requests)
        appendClientInput(request + QLatin1Char(' '));
    if (!m_pendingEcho.isEmpty())
        appendToPane(m_clientInputBrowser, m_pendingEcho);
    m_pendingEcho.clear();
}

// Gathered, and put into the pane once for all the requests a frame brought.
void ServerInterface::appendClientInput(const QString &text)
{
    if (m_clientInputChars + text.size() > m_options.clientInputLimit)
        return;
    m_clientInputChars += text.size();
    m_pendingEcho += text;
}

void ServerInterface::showTransferEnded(const TransferReport &report)
{
    switch (report.ending) {
    case TransferReport::Complete:
        setColour({m_step4TextLabel1, m_step4TextLabel2, m_step4TextLabel3, m_messageLabel}, Colour::Green);
        m_messageLabel->setText(QStringLiteral("Download complete"));
        m_fileStatusEdit->setText(QStringLiteral("Reading data is complete...Download complete"));
        m_progressBar->setValue(100);
        break;
    case TransferReport::Stalled:
        QMetaObject::invokeMethod(this, &ServerInterface::showInterruptionHint, Qt::QueuedConnection);
        break;
    case TransferReport::Restarted: markFlashInterrupted(); break;
    case TransferReport::DeviceClosed:
    case TransferReport::Stopped:
    case TransferReport::Paused:
    case TransferReport::Refused: break;
    }
    if (report.ending != TransferReport::Refused)
        m_status->showLastFlash(report);
}

void ServerInterface::delayMsec(int msec)
{
    // Monotonic, so a wait that spans midnight or a clock change still ends on time.
    const QDeadlineTimer deadline(qMax(msec, 0));
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
}

void ServerInterface::showStartupHint()
{
    if (m_adapterSearch.adapterFound())
        return;
    m_hintLabel1->setText(QStringLiteral(
            "If failed to get the local connection IP address, please enter the computer update adapter interface,"));
    m_hintLabel2->setText(QStringLiteral("and modify the local connection IP address to ") + kServerAddress +
                          QStringLiteral(" .Restart TcpServer."));
    setColour({m_hintLabel1, m_hintLabel2, m_noIpLabel, m_noIpHintLabel}, Colour::Red);
}

void ServerInterface::slotHintMessage()
{
    setColour({m_step2TextLabel1, m_step2TextLabel2}, Colour::Red);
    // One box at a time: a device that asks again and again while it is open
    // is refused all the same, without piling boxes on boxes.
    if (m_refusalBoxOpen)
        return;
    m_refusalBoxOpen = true;
    showInformation(this, QStringLiteral("Didn't click 'Download' button to download the data."));
    m_refusalBoxOpen = false;
}

void ServerInterface::markFlashInterrupted()
{
    setColour({m_step4TextLabel1, m_step4TextLabel2, m_step4TextLabel3}, Colour::Red);
}

void ServerInterface::showInterruptionHint()
{
    markFlashInterrupted();
    showInformation(this, QStringLiteral("Network interruption, please restart TcpServer."));
}

void showInformation(QWidget *parent, const QString &text)
{
    QMessageBox::information(parent, QStringLiteral("TcpServer"), text, QMessageBox::Ok, QMessageBox::Ok);
}
