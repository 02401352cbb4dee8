#include "window/serverinterface.h"

#include "image/imagefile.h"
#include "server/tcpserver.h"
#include "window/colours.h"
#include "window/hexview.h"
#include "window/messages.h"

#include <QDebug>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTextBrowser>

void ServerInterface::slotOpenFile()
{
    if (m_adapterFound && !judgeServerIp()) {
        setColour({m_haveIpLabel, m_haveIpHintLabel1, m_haveIpHintLabel2}, Colour::Red);
        showInformation(this, QStringLiteral("Please click the 'ModifyIP' button to modify the ServerIP address first."));
        return;
    }
    // An image loaded where no device can reach it would look ready and never
    // be served. This also starts the server when the address was put right
    // outside the program after a wrong-address start.
    if (!ensureListening())
        return;

    const QString path = imageFilePath();
    m_clientInputBrowser->clear();
    m_serverOutputBrowser->clear();
    m_progressBar->setValue(0);
    m_messageLabel->setText(QString());
    m_clientIpLabel->setText(QString());
    setColour({m_step3TextLabel1, m_step3TextLabel2, m_step3TextLabel3, m_step4TextLabel1, m_step4TextLabel2,
               m_step4TextLabel3},
              Colour::Black);

    // An image that cannot be read whole is no image: the device must never get
    // part of one as if it were all of it.
    QByteArray image;
    if (readImageFile(path, &image)) {
        m_fileStatusEdit->setText(QStringLiteral("Reading data is complete......"));
        setColour({m_step2TextLabel1, m_step2TextLabel2}, Colour::Green);
    } else {
        qDebug() << "open EVB_File failed";
        m_fileStatusEdit->setText(QStringLiteral("Failed to read data."));
        setColour({m_step2TextLabel1, m_step2TextLabel2}, Colour::Red);
    }

    m_serverOutputBrowser->insertPlainText(hexView(image.constData(), int(image.size())));
    emit sendDataSig(image);

    m_fileStatusEdit->setCursorPosition(1);
    m_filePathEdit->setText(path);
    m_filePathEdit->setCursorPosition(1);

    m_tcpServer->m_blockIndex = 0;
    m_tcpServer->m_sentBlocks = 0;
    m_tcpServer->m_lastSentBlocks = 0;
    m_tcpServer->m_isDownloading = false;
}
