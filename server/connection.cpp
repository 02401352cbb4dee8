#include "server/tcpserver.h"

#include "window/colours.h"
#include "window/serverinterface.h"

#include <QDebug>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstring>

namespace {

// One read is one request: its bytes up to the first zero byte, as Latin-1.
QString requestTextOf(const QByteArray &data)
{
    const int zero = data.indexOf('\0');
    return QString::fromLatin1(data.constData(), zero < 0 ? int(data.size()) : zero);
}

// An IPv4 device reaches the any-address listener as ::ffff:a.b.c.d and is
// shown as a.b.c.d; any other address is shown whole.
QString peerText(const QHostAddress &peer)
{
    bool mapped = false;
    const quint32 ipv4 = peer.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4).toString() : peer.toString();
}

} // namespace

void TcpServer::newClientConnect()
{
    QTcpSocket *newcomer = m_server->nextPendingConnection();
    if (!newcomer)
        return;

    if (transferRunning()) {
        // A device is being flashed: nothing may disturb it.
        newcomer->close();
        newcomer->deleteLater();
        return;
    }
    // The newest connection is the device; an earlier one is dropped, so that
    // none of its events can act on the new one.
    if (m_socket)
        dropConnection(m_socket);

    m_socket = newcomer;
    m_connectionAsked = false;
    m_lengthSent = false;
    m_socket->setReadBufferSize(kMaxReadBytes);
    m_window->m_clientIpLabel->setText(peerText(m_socket->peerAddress()));
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpServer::readClientData);
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpServer::clientDisconnected);
    qDebug() << "Client connect!";
    setColour({m_window->m_step3TextLabel1, m_window->m_step3TextLabel2, m_window->m_step3TextLabel3}, Colour::Green);
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

    const bool lengthRequest = m_requestText == QLatin1String(protocol::kLengthRequest);
    const bool blockRequest = m_requestText == QLatin1String(protocol::kBlockRequest);
    if (lengthRequest || blockRequest)
        m_connectionAsked = true;

    if (lengthRequest) {
        if (m_hasFile) {
            if (!answersPending()) {
                // Asking for the length is starting over.
                restartTransfer();
                sendFileSize();
            }
            return;
        }
        // Asked before an image was loaded: tell the operator, then stop
        // serving this connection (it stays open).
        QPointer<QTcpSocket> asker = m_socket;
        {
            HandlerScope scope(this);
            emit hintSig();
        }
        // While the box was open a newer connection may have replaced this one;
        // that one is not ours to end.
        if (asker && asker == m_socket) {
            asker->disconnect(this);
            clientDisconnected();
        }
        return;
    }

    if (!blockRequest || !m_hasFile || answersPending())
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
    setColour(m_window->m_messageLabel, Colour::Black);
    m_window->m_messageLabel->setText(m_blockIndex % 2 != 0 ? QStringLiteral("Downloading......")
                                                            : QStringLiteral("Downloading..."));
    sendFileBlock();
    ++m_blockIndex;
}

void TcpServer::restartTransfer()
{
    m_blockIndex = 0;
    m_sentBlocks = 0;
    m_lastSentBlocks = 0;
    m_isDownloading = false;
    m_percent = m_percentStep;
    m_sendPos = m_fileData.constData();
    m_window->m_progressBar->setValue(0);
}

// A client that asks and asks but never reads gets no further answers until it
// has taken what it was sent; nothing is counted as sent that was not.
bool TcpServer::answersPending() const
{
    return m_socket->bytesToWrite() > kMaxUnsentBytes;
}

void TcpServer::clientDisconnected()
{
    // A connection that never asked for anything (a port scan, a stranger)
    // had no transfer to end: the image stays loaded for the device.
    if (m_connectionAsked) {
        if (m_isDownloading) {
            const bool complete = m_sentBlocks == m_totalBlocks;
            m_isDownloading = false;
            if (complete) {
                setColour({m_window->m_step4TextLabel1, m_window->m_step4TextLabel2, m_window->m_step4TextLabel3,
                           m_window->m_messageLabel},
                          Colour::Green);
                m_window->m_messageLabel->setText(QStringLiteral("Download complete"));
                m_window->m_fileStatusEdit->setText(QStringLiteral("Reading data is complete...Download complete"));
                m_window->m_progressBar->setValue(100);
            }
        }
        m_requestText = QStringLiteral("end");
        m_hasFile = false;
        m_fileData.clear();
        m_sendPos = nullptr;
    }
    m_lengthSent = false;
    qDebug() << "Disconnected!";
}

void TcpServer::sendFileSize()
{
    m_socket->write(protocol::lengthHeader(m_fileData.size()));
    m_socket->flush();
    m_lengthSent = true;
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
    m_sinceLastBlock.start();
    m_window->showSentBlock(block, kBlockSize);
    // Stop at the end of the image rather than pointing past it.
    m_sendPos += available;
}
