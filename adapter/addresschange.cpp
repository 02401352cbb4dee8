#include "window/serverinterface.h"

#include "adapter/networkadapters.h"
#include "window/colours.h"
#include "window/messages.h"

#include <QLabel>

namespace {
// The change may hold the window up this long, and no longer.
const int kChangeTimeoutMsec = 30000;
} // namespace

void ServerInterface::slotModify()
{
    if (judgeServerIp()) {
        showInformation(this, QStringLiteral("ServerIP address has been modified."));
        return;
    }

    // Whatever the tool says, only a fresh search of the adapters decides.
    m_adapters->setStaticAddress(m_adapterName, kServerAddress, kServerMask, kChangeTimeoutMsec);
    delayMsec(50);

    if (!m_adapterFound) {
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
