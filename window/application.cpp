#include "window/application.h"

#include <QGuiApplication>
#include <QIcon>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace {

QtMessageHandler g_handlerBeforeStart = nullptr;
// What Qt says while it starts is shown once it has started, so that a start
// that fails says one thing only.
QStringList g_startupLines;

void startupMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        g_startupLines << qFormatLogMessage(type, context, message);
        return;
    }
    // Qt ends the process here when it finds no display for the window.
    if (message.contains(QLatin1String("platform plugin")))
        std::fprintf(stderr,
                     "TcpServer: there is no display to show its window on. Start it in a desktop session "
                     "(or with QT_QPA_PLATFORM=offscreen to run it without a visible window).\n");
    else
        std::fprintf(stderr, "TcpServer cannot start: %s\n", qPrintable(message.section(QLatin1Char('\n'), 0, 0)));
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

void prepareApplication()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
    // 125 % and 150 % are scaled as such, not rounded to 100 % or 200 %.
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
    // The windows draw no OpenGL. On X, Qt would load the GL driver all the
    // same (Mesa's software one alone brings 45 MiB of LLVM into every window).
    // A user who sets the variable decides.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    g_handlerBeforeStart = qInstallMessageHandler(startupMessage);
}

void applicationStarted()
{
    qInstallMessageHandler(g_handlerBeforeStart);
    for (const QString &line : qAsConst(g_startupLines))
        std::fprintf(stderr, "%s\n", qPrintable(line));
    g_startupLines.clear();
    // The program's own copies of the icon theme's sizes (app/icons/).
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/hicolor/%1x%1/apps/tcpserver.png").arg(size));
    QGuiApplication::setWindowIcon(icon);
}
