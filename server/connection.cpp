#include "server/tcpserver.h"

#include "window/hexview.h"
#include "window/storedtextpane.h"
#include "window/serverinterface.h"

#include <QDebug>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBrowser>

#include <cstring>

namespace {

// One read is one request: its bytes up to the first zero byte, as Latin-1.
QString requestTextOf(const QByteArray &data)
{
    const int zero = data.indexOf('\0');
    return QString::fromLatin1(data.constData(), zero < 0 ? data.size() : zero);
}

// Setting a style sheet re-polishes the widget even when the sheet is the
// same; on the per-block path that is most of the work, and changes nothing.
void setStyle(QWidget *widget, const QString &style)
{
    if (widget->styleSheet() != style)
        widget->setStyleSheet(style);
}

const QString kGreen = QStringLiteral("color:green;");
const QString kBlack = QStringLiteral("color:black;");

} // namespace

void TcpServer::newClientConnect()
{
    QTcpSocket *newcomer = m_server->nextPendingConnection();
    if (!newcomer)
        return;

    if (m_socket && m_isDownloading && m_socket->state() == QAbstractSocket::ConnectedState) {
        // A transfer is running on an open connection: nothing may disturb it.
        newcomer->close();
        newcomer->deleteLater();
        return;
    }
    // The newest connection is the device; an earlier one is dropped, so that
    // none of its events can act on the new one.
    if (m_socket)
        dropConnection(m_socket);

    m_socket = newcomer;
    m_socket->setReadBufferSize(kMaxReadBytes);
    // With the listener on the any-address an IPv4 peer reads "::ffff:a.b.c.d".
    m_window->m_clientIpLabel->setText(m_socket->peerAddress().toString().mid(7));
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpServer::readClientData);
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpServer::clientDisconnected);
    qDebug() << "Client connect!";
    setStyle(m_window->m_step3TextLabel1, kGreen);
    setStyle(m_window->m_step3TextLabel2, kGreen);
    setStyle(m_window->m_step3TextLabel3, kGreen);
}

void TcpServer::readClientData()
{
    if (!m_socket)
        return;
    const QByteArray data = m_socket->readAll();
    m_requestText = requestTextOf(data);
    if (data.isEmpty())
        return;

    if (m_hasFile)
        m_window->appendClientInput(m_requestText.left(kMaxEchoChars) + QLatin1Char(' '));

    if (m_requestText == QLatin1String(protocol::kLengthRequest)) {
        if (m_hasFile) {
            if (!answersPending())
                sendFileSize();
            return;
        }
        // Asked before an image was loaded: tell the operator, then stop
        // serving this connection (it stays open).
        QPointer<QTcpSocket> asker = m_socket;
        HandlerScope scope(this);
        emit hintSig();
        if (m_retired)
            return;
        // While the box was open a newer connection may have replaced this one;
        // that one is not ours to end.
        if (asker && asker == m_socket) {
            asker->disconnect(this);
            clientDisconnected();
        }
        return;
    }

    if (m_requestText != QLatin1String(protocol::kBlockRequest) || !m_hasFile || answersPending())
        return;

    // Two views of what is left must agree: the block count and the position.
    // No block is ever taken from beyond the image.
    const qint64 leftByIndex = qint64(m_fileData.size()) - qint64(kBlockSize) * m_blockIndex;
    const char *end = m_fileData.constData() + m_fileData.size();
    if (leftByIndex <= 0 || !m_sendPos || m_sendPos >= end) {
        m_blockIndex = 1;
        return;
    }

    ++m_sentBlocks;
    m_isDownloading = true;
    if (m_percentStep >= 1.0) {
        m_window->m_progressBar->setValue(int(m_percent));
        m_percent += m_percentStep;
    } else {
        if (m_percent > 1.0)
            m_window->m_progressBar->setValue(int(m_percent));
        m_percent += m_percentStep;
    }
    setStyle(m_window->m_messageLabel, kBlack);
    m_window->m_messageLabel->setText(m_blockIndex % 2 != 0 ? QStringLiteral("Downloading......")
                                                            : QStringLiteral("Downloading..."));
    sendFileBlock();
    ++m_blockIndex;
}

// A client that asks and asks but never reads gets no further answers until it
// has taken what it was sent; nothing is counted as sent that was not.
bool TcpServer::answersPending() const
{
    return m_socket->bytesToWrite() > kMaxUnsentBytes;
}

void TcpServer::clientDisconnected()
{
    if (m_isDownloading) {
        const bool complete = m_sentBlocks == m_totalBlocks;
        m_isDownloading = false;
        if (complete) {
            setStyle(m_window->m_step4TextLabel1, kGreen);
            setStyle(m_window->m_step4TextLabel2, kGreen);
            setStyle(m_window->m_step4TextLabel3, kGreen);
            setStyle(m_window->m_messageLabel, kGreen);
            m_window->m_messageLabel->setText(QStringLiteral("Download complete"));
            m_window->m_fileStatusEdit->setText(QStringLiteral("Reading data is complete...Download complete"));
            m_window->m_progressBar->setValue(100);
        }
    }
    m_requestText = QStringLiteral("end");
    m_hasFile = false;
    m_fileData.clear();
    m_sendPos = nullptr;
    qDebug() << "Disconnected!";
}

void TcpServer::sendFileSize()
{
    m_socket->write(protocol::lengthHeader(m_fileData.size()));
    m_socket->flush();
}

void TcpServer::sendFileBlock()
{
    if (m_fileData.isEmpty())
        return;
    const char *end = m_fileData.constData() + m_fileData.size();
    if (!m_sendPos || m_sendPos >= end || !m_socket)
        return;

    const int available = int(qMin<qint64>(kBlockSize, end - m_sendPos));
    const char *block = m_sendPos;
    char padded[kBlockSize];
    if (available < kBlockSize) {
        // The last block: the image's remaining bytes, then zero bytes.
        std::memcpy(padded, m_sendPos, size_t(available));
        std::memset(padded + available, 0, size_t(kBlockSize - available));
        block = padded;
    }
    m_socket->write(block, kBlockSize);
    m_socket->flush();
    // The pane shows only the latest block.
    replacePaneText(m_window->m_serverOutputBrowser, hexView(block, kBlockSize));
    // Stop at the end of the image rather than pointing past it.
    m_sendPos += available;
}
