#include "window/serverinterface.h"

#include "adapter/networkadapters.h"
#include "window/colours.h"
#include "window/hexview.h"
#include "window/messages.h"
#include "window/storedtextpane.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QTextBrowser>
#include <QTextDocument>

int ServerInterface::clientInputLimit = 8 * 1024 * 1024;

void showInformation(QWidget *parent, const QString &text)
{
    QMessageBox::information(parent, QStringLiteral("TcpServer"), text, QMessageBox::Ok, QMessageBox::Ok);
}

void ServerInterface::appendClientInput(const QString &text)
{
    if (m_clientInputBrowser->document()->characterCount() + text.size() > clientInputLimit)
        return;
    appendToPane(m_clientInputBrowser, text);
}

void ServerInterface::showSentBlock(const char *block, int length)
{
    // The pane shows only the latest block.
    replacePaneText(m_serverOutputBrowser, hexView(block, length));
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
