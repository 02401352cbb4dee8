#include "window.h"

#include "server/protocol.h"
#include "session/flashsession.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <utility>

WindowUnderTest::WindowUnderTest(const QList<NetworkAdapter> &adapters)
{
    this->adapters.adapters = adapters;
    options.imagePath = imagePath();
    options.notePath = folder.filePath(QStringLiteral("adapter-note.txt"));
    // The server's own debug lines are no part of what is checked, nor the
    // offscreen platform's excuses.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg && !message.contains(QLatin1String("does not support propagateSizeHints")))
            fprintf(stderr, "%s\n", qPrintable(message));
    });
    connect(&m_boxTimer, &QTimer::timeout, this, &WindowUnderTest::closeBoxes);
    m_boxTimer.start(5);
}

WindowUnderTest::~WindowUnderTest()
{
    for (const QString &title : qAsConst(titles)) {
        if (title != QLatin1String("TcpServer"))
            QTest::qFail(qPrintable("a box titled " + title), __FILE__, __LINE__);
    }
    // The mutation check wants a verdict, not every row's failure.
    if (QTest::currentTestFailed() && qEnvironmentVariableIsSet("TCPSERVER_FAIL_FAST"))
        std::_Exit(1);
    devices.clear();
    m_window.reset();
    qInstallMessageHandler(nullptr);
}

QByteArray WindowUnderTest::writeImage(int size)
{
    const QByteArray image = pattern(size, size);
    writeFile(imagePath(), image);
    return image;
}

ServerInterface *WindowUnderTest::start(Listening listening)
{
    m_window.reset(new ServerInterface(options, adapterSource));
    m_window->show();
    // The server listens once its thread has started it and the window has heard so.
    if (listening == Listening::Yes && !QTest::qWaitFor([this] { return isListening(); }))
        qWarning("the window's server did not listen");
    return m_window.get();
}

// Asked of the window's session, not by binding the port: a probe that binds
// could take it in the very moment the server binds it.
bool WindowUnderTest::isListening() const
{
    return m_window->findChild<FlashSession *>()->isListening();
}

void WindowUnderTest::clickDownload()
{
    QTest::mouseClick(m_window->findChild<QPushButton *>(QStringLiteral("downloadButton")), Qt::LeftButton);
}

void WindowUnderTest::clickModifyIp()
{
    QTest::mouseClick(m_window->findChild<QPushButton *>(QStringLiteral("modifyIpButton")), Qt::LeftButton);
}

// Whatever box opens is closed, so that a wrong one cannot hold the suite up.
void WindowUnderTest::closeBoxes()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || box == m_heldBox)
        return;
    boxes << box->text();
    titles << box->windowTitle();
    if (box->button(QMessageBox::No))
        questionDefaults << box->standardButton(box->defaultButton());
    const auto answerBox = [this](QMessageBox *open) {
        open->button(open->button(QMessageBox::Ok) ? QMessageBox::Ok : answer)->click();
    };
    if (!whileNextBoxIsOpen) {
        answerBox(box);
        return;
    }
    // Done on a timer of its own, so that this one goes on closing any box
    // that opens meanwhile (a timer's slot is not entered again while it runs).
    m_heldBox = box;
    QTimer::singleShot(0, this, [this, answerBox, work = std::exchange(whileNextBoxIsOpen, nullptr)] {
        work();
        if (m_heldBox)
            answerBox(m_heldBox);
        m_heldBox = nullptr;
    });
}

QString WindowUnderTest::text(const char *widget) const
{
    QObject *found = m_window->findChild<QObject *>(QLatin1String(widget));
    if (auto *label = qobject_cast<QLabel *>(found))
        return label->text();
    if (auto *edit = qobject_cast<QLineEdit *>(found))
        return edit->text();
    return QStringLiteral("no widget %1").arg(QLatin1String(widget));
}

QVector<Colour> WindowUnderTest::colours(std::initializer_list<const char *> widgets) const
{
    static const QMap<QString, Colour> names{{"#008000", Colour::Green},
                                             {"#ff0000", Colour::Red},
                                             {"#0000ff", Colour::Blue},
                                             {"#000000", Colour::Black}};
    QVector<Colour> shown;
    for (const char *name : widgets) {
        QWidget *widget = m_window->findChild<QWidget *>(QLatin1String(name));
        widget->ensurePolished();
        // A colour that is none of the four is none the operator is meant to read.
        shown << names.value(widget->palette().color(widget->foregroundRole()).name(), Colour(-1));
    }
    return shown;
}

int WindowUnderTest::bar() const
{
    return m_window->findChild<QProgressBar *>(QStringLiteral("progressBar"))->value();
}

TestDevice *WindowUnderTest::connectDevice(const QString &host)
{
    devices.push_back(std::make_unique<TestDevice>(host, protocol::kPort));
    (void)QTest::qWaitFor([&] { return text("clientIpLabel") == host; }, 5000);
    return devices.back().get();
}
