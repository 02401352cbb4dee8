#include "window/serverinterface.h"

#include "adapter/networkadapters.h"
#include "server/tcpserver.h"

#include <QLabel>
#include <QMessageBox>

namespace {
const QString kServerIp = QStringLiteral("192.168.0.92");
const QString kServerMask = QStringLiteral("255.255.255.0");
// The change may hold the window up this long, and no longer.
const int kChangeTimeoutMsec = 30000;
} // namespace

void ServerInterface::slotModify()
{
    if (judgeServerIp()) {
        QMessageBox::information(this, QStringLiteral("TcpServer"), QStringLiteral("ServerIP address has been modified."),
                                 QMessageBox::Ok, QMessageBox::Ok);
        return;
    }

    // Whatever the tool says, only a fresh search of the adapters decides.
    m_adapters->setStaticAddress(m_adapterName, kServerIp, kServerMask, kChangeTimeoutMsec);
    delayMsec(50);

    if (!m_adapterFound) {
        m_messageLabel->setText(QStringLiteral("Failed to get local connection ServerIP."));
        m_messageLabel->setStyleSheet(QStringLiteral("color:red;"));
    } else if (judgeServerIp()) {
        m_haveIpLabel->setStyleSheet(QStringLiteral("color:green;"));
        m_haveIpHintLabel1->setStyleSheet(QStringLiteral("color:green;"));
        m_haveIpHintLabel2->setStyleSheet(QStringLiteral("color:green;"));
        m_serverIpLabel->setText(kServerIp);
        m_messageLabel->setText(QStringLiteral("ServerIP modified successfully."));
        m_serverIpLabel->setStyleSheet(QStringLiteral("color:green;"));
        m_messageLabel->setStyleSheet(QStringLiteral("color:green;"));
    } else {
        m_haveIpLabel->setStyleSheet(QStringLiteral("color:red;"));
        m_haveIpHintLabel1->setStyleSheet(QStringLiteral("color:red;"));
        m_haveIpHintLabel2->setStyleSheet(QStringLiteral("color:red;"));
        m_messageLabel->setText(QStringLiteral("ServerIP fail to modify."));
        m_messageLabel->setStyleSheet(QStringLiteral("color:red;"));
    }

    // One server holds the port: the earlier one goes before the new one
    // listens, so the server the window resets is the one the device reaches.
    retireServer();
    createServer();
}
