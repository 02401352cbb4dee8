#include "server/transfer.h"

#include "adapter/neighbours.h"
#include "adapter/networkadapters.h"
#include "image/flashimage.h"
#include "server/protocol.h"
#include "server/socketio.h"

#include <QDebug>
#include <QTcpSocket>

#include <cstring>
#include <limits>

namespace {

// One read is one request: its bytes up to the first zero byte, as Latin-1.
QString requestTextOf(const QByteArray &data)
{
    const int zero = data.indexOf('\0');
    return QString::fromLatin1(data.constData(), zero < 0 ? int(data.size()) : zero);
}

} // namespace

Transfer::Transfer(QTcpSocket *socket, int number, const QString &adapter, const Limits &limits, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_number(number)
    , m_adapter(adapter)
    , m_limits(limits)
    , m_peer(plainAddress(socket->peerAddress()))
    , m_local(plainAddress(socket->localAddress()))
{
    m_socket->setParent(this);
    m_socket->setReadBufferSize(m_limits.maxReadBytes);
    enableKeepAlive(m_socket);
    connect(m_socket, &QTcpSocket::readyRead, this, &Transfer::readClientData);
    connect(m_socket, &QTcpSocket::disconnected, this, &Transfer::clientDisconnected);
    qDebug() << "Client connect!";
}

Transfer::~Transfer()
{
    // Nothing the socket does as it goes may call back into a transfer that is going.
    m_socket->disconnect(this);
}

bool Transfer::isFlashing() const
{
    return m_state == State::LengthTold || m_state == State::Sending || m_state == State::AllSent;
}

bool Transfer::hasSentAnything() const
{
    return m_heard || m_socket->bytesAvailable() > 0 || socketio::bytesPending(m_socket->socketDescriptor()) > 0;
}

DeviceConnection Transfer::connection() const
{
    return {m_number, m_adapter, m_peer.toString(), m_generation};
}

void Transfer::offerImage(const QSharedPointer<FlashImage> &image, int generation)
{
    if (isFlashing() || m_state == State::Ended)
        return;
    m_image = image;
    m_generation = generation;
    m_bytes = image ? image->bytes() : QByteArray();
    const qint64 blocks = protocol::blockCount(m_bytes.size());
    // An empty image has no blocks and so no finite step; no block is ever sent for it.
    m_percentStep = blocks > 0 ? 100.0 / blocks : std::numeric_limits<double>::infinity();
    m_percent = m_percentStep;
    m_position = 0;
}

bool Transfer::stalled(qint64 periodMsec) const
{
    // A request that came and is not read yet (the server was busy) is no stall.
    return (m_state == State::LengthTold || m_state == State::Sending) && m_position < m_bytes.size() &&
            m_sinceAnswer.elapsed() >= periodMsec && m_socket->bytesAvailable() == 0 &&
            socketio::bytesPending(m_socket->socketDescriptor()) == 0;
}

void Transfer::readOverlooked(qint64 periodMsec)
{
    if ((m_state == State::LengthTold || m_state == State::Sending) && m_sinceAnswer.elapsed() >= periodMsec &&
        m_socket->bytesAvailable() == 0 && socketio::bytesPending(m_socket->socketDescriptor()) > 0)
        m_socket->waitForReadyRead(0); // reads what is there, and reports it as Qt's notice would
}

void Transfer::readClientData()
{
    const QByteArray data = m_socket->readAll();
    if (data.isEmpty())
        return;
    m_heard = true;
    const QString request = requestTextOf(data);
    if (m_image)
        emit requestEchoed(request.left(m_limits.maxEchoChars));

    if (request == QLatin1String(protocol::kLengthRequest)) {
        if (!m_image)
            return refuse();
        // Asking for the length is starting over.
        if (!answersPending())
            sendFileSize();
        return;
    }
    // No block is ever taken from beyond the image.
    if (request != QLatin1String(protocol::kBlockRequest) || !m_image || answersPending() ||
        m_position >= m_bytes.size())
        return;
    if (m_state == State::Connected) {
        // An "ok" before "updata" is served from the first block.
        beginTransfer();
        m_state = State::Sending;
        m_sinceAnswer.start();
        emit began();
    }
    advanceProgress();
    sendFileBlock();
}

void Transfer::refuse()
{
    // Asked before an image was handed over: the connection is no longer
    // served (it stays open until the device or a newcomer ends it), and
    // whoever listens tells the operator.
    beginTransfer();
    TransferReport report = reportOf(TransferReport::Refused);
    report.started = report.ended;
    report.elapsedNs = 0;
    m_state = State::Ended;
    disconnect(m_socket, &QTcpSocket::readyRead, this, &Transfer::readClientData);
    qDebug() << "Disconnected!";
    emit transferEnded(report);
    emit refused();
}

void Transfer::sendFileSize()
{
    m_position = 0;
    m_percent = m_percentStep;
    beginTransfer();
    showProgress(0);
    // Told from here on: a connection that fails while it is told ends by its
    // own signal, reported with nothing sent.
    const bool beginning = m_state == State::Connected;
    m_state = State::LengthTold;
    if (beginning)
        emit began();
    m_sinceAnswer.start();
    const QByteArray header = protocol::lengthHeader(qint32(m_bytes.size()));
    writeNow(m_socket, header.constData(), header.size());
}

void Transfer::sendFileBlock()
{
    const qint64 available = qMin<qint64>(protocol::kBlockSize, m_bytes.size() - m_position);
    const char *block = m_bytes.constData() + m_position;
    char padded[protocol::kBlockSize];
    if (available < protocol::kBlockSize) {
        // The last block: the image's remaining bytes, then zero bytes.
        std::memcpy(padded, block, size_t(available));
        std::memset(padded + available, 0, size_t(protocol::kBlockSize - available));
        block = padded;
    }
    // A block counts once it was written; a connection that failed meanwhile
    // has been ended by its own signal, and nothing more is done to it.
    if (!writeNow(m_socket, block, protocol::kBlockSize) || m_state == State::Ended)
        return;
    const int index = int(m_position / protocol::kBlockSize);
    m_position += available;
    m_state = m_position < m_bytes.size() ? State::Sending : State::AllSent;
    m_sinceAnswer.start();
    emit blockSent(index);
}

void Transfer::beginTransfer()
{
    m_flashId = QUuid::createUuid();
    m_started = QDateTime::currentDateTime();
    m_clock.start();
    if (m_adapter.isEmpty())
        m_adapter = adapterHolding(m_local);
    m_deviceMac = neighbourHardwareAddress(m_peer, m_adapter);
}

void Transfer::advanceProgress()
{
    // The bar shows the sum of the steps so far, truncated; for an image of
    // more than 100 blocks only once that sum exceeds 1.
    if (m_percentStep >= 1.0 || m_percent > 1.0)
        showProgress(int(m_percent));
    m_percent += m_percentStep;
}

void Transfer::showProgress(int percent)
{
    if (percent == m_shownPercent)
        return;
    m_shownPercent = percent;
    emit progress(percent);
}

// A client that asks and asks but never reads gets no further answers until it
// has taken what it was sent.
bool Transfer::answersPending() const
{
    return m_socket->bytesToWrite() > m_limits.maxUnsentBytes;
}

void Transfer::clientDisconnected()
{
    finish(m_state == State::AllSent ? TransferReport::Complete : TransferReport::DeviceClosed);
    emit connectionClosed();
}

void Transfer::end(TransferReport::Ending ending)
{
    finish(ending);
    close();
}

void Transfer::drop()
{
    close();
}

void Transfer::finish(TransferReport::Ending ending)
{
    if (m_state == State::Ended)
        return;
    // A connection that never asked (a port scan, a stranger) had no transfer.
    const bool began = m_state != State::Connected;
    m_state = State::Ended;
    qDebug() << "Disconnected!";
    if (began)
        emit transferEnded(reportOf(ending));
}

void Transfer::close()
{
    // Cut first, so none of its events can reach us.
    m_socket->disconnect(this);
    m_socket->close();
    emit connectionClosed();
}

TransferReport Transfer::reportOf(TransferReport::Ending ending) const
{
    TransferReport report;
    report.ending = ending;
    report.connection = connection();
    report.server = m_local.toString();
    report.deviceMac = m_deviceMac;
    report.image = ending == TransferReport::Refused ? nullptr : m_image;
    report.flashId = ending == TransferReport::Refused ? QUuid() : m_flashId;
    report.started = m_started;
    report.ended = QDateTime::currentDateTime();
    report.elapsedNs = m_clock.nsecsElapsed();
    report.blocksSent = int(protocol::blockCount(m_position));
    report.bytesSent = m_position;
    return report;
}
