#include "window/serverinterface.h"

#include "image/imagefile.h"
#include "server/tcpserver.h"
#include "window/hexview.h"

#include <QDebug>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTextBrowser>

void ServerInterface::slotOpenFile()
{
    if (m_adapterFound && !judgeServerIp()) {
        m_haveIpLabel->setStyleSheet(QStringLiteral("color:red;"));
        m_haveIpHintLabel1->setStyleSheet(QStringLiteral("color:red;"));
        m_haveIpHintLabel2->setStyleSheet(QStringLiteral("color:red;"));
        QMessageBox::information(this, QStringLiteral("TcpServer"),
                                 QStringLiteral("Please click the 'ModifyIP' button to modify the ServerIP address "
                                                "first."),
                                 QMessageBox::Ok, QMessageBox::Ok);
        return;
    }

    const QString path = imageFilePath();
    m_clientInputBrowser->clear();
    m_serverOutputBrowser->clear();
    m_progressBar->setValue(0);
    m_messageLabel->setText(QString());
    m_clientIpLabel->setText(QString());
    for (QLabel *label : {m_step3TextLabel1, m_step3TextLabel2, m_step3TextLabel3, m_step4TextLabel1,
                          m_step4TextLabel2, m_step4TextLabel3})
        label->setStyleSheet(QStringLiteral("color:black;"));

    // An image that cannot be read whole is no image: the device must never get
    // part of one as if it were all of it.
    QByteArray image;
    if (readImageFile(path, &image)) {
        m_fileStatusEdit->setText(QStringLiteral("Reading data is complete......"));
        m_step2TextLabel1->setStyleSheet(QStringLiteral("color:green;"));
        m_step2TextLabel2->setStyleSheet(QStringLiteral("color:green;"));
    } else {
        qDebug() << "open EVB_File failed";
        m_fileStatusEdit->setText(QStringLiteral("Failed to read data."));
        m_step2TextLabel1->setStyleSheet(QStringLiteral("color:red;"));
        m_step2TextLabel2->setStyleSheet(QStringLiteral("color:red;"));
    }

    m_serverOutputBrowser->insertPlainText(hexView(image.constData(), image.size()));

    // The address was put right outside the program after a wrong-address
    // start: there is no server yet, so make one to take the image.
    if (!m_tcpServer)
        createServer();
    emit sendDataSig(image);

    m_fileStatusEdit->setCursorPosition(1);
    m_filePathEdit->setText(path);
    m_filePathEdit->setCursorPosition(1);

    m_tcpServer->m_blockIndex = 0;
    m_tcpServer->m_sentBlocks = 0;
    m_tcpServer->m_lastSentBlocks = 0;
    m_tcpServer->m_isDownloading = false;
}
