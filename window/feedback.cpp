#include "window/serverinterface.h"

#include "window/storedtextpane.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QTextBrowser>
#include <QTextDocument>

namespace {

void showInformation(QWidget *parent, const QString &text)
{
    QMessageBox::information(parent, QStringLiteral("TcpServer"), text, QMessageBox::Ok, QMessageBox::Ok);
}

} // namespace

void ServerInterface::appendClientInput(const QString &text)
{
    if (m_clientInputBrowser->document()->characterCount() + text.size() > kMaxClientInputChars)
        return;
    appendToPane(m_clientInputBrowser, text);
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
    if (m_adapterFound)
        return;
    m_hintLabel1->setText(QStringLiteral(
        "If failed to get the local connection IP address, please enter the computer update adapter interface,"));
    m_hintLabel2->setText(
        QStringLiteral("and modify the local connection IP address to 192.168.0.92 .Restart TcpServer."));
    m_hintLabel1->setStyleSheet(QStringLiteral("color:red;"));
    m_hintLabel2->setStyleSheet(QStringLiteral("color:red;"));
    m_noIpLabel->setStyleSheet(QStringLiteral("color:red;"));
    m_noIpHintLabel->setStyleSheet(QStringLiteral("color:red;"));
}

void ServerInterface::slotHintMessage()
{
    m_step2TextLabel1->setStyleSheet(QStringLiteral("color:red;"));
    m_step2TextLabel2->setStyleSheet(QStringLiteral("color:red;"));
    showInformation(this, QStringLiteral("Didn't click 'Download' button to download the data."));
}

void ServerInterface::showInterruptionHint()
{
    m_step4TextLabel1->setStyleSheet(QStringLiteral("color:red;"));
    m_step4TextLabel2->setStyleSheet(QStringLiteral("color:red;"));
    m_step4TextLabel3->setStyleSheet(QStringLiteral("color:red;"));
    showInformation(this, QStringLiteral("Network interruption, please restart TcpServer."));
}
