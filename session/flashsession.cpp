#include "session/flashsession.h"

#include "image/flashimage.h"
#include "record/databasesender.h"
#include "record/flashrecord.h"

namespace {

// What the line's database may add to the end, at most.
const int kDatabaseEndMsec = 2000;

FlashLine::Options lineOptions(const FlashSession::Options &options)
{
    FlashLine::Options line;
    line.server = options.server;
    line.adapters = options.adapters;
    return line;
}

FixtureModel::Options fixtureOptions(const FlashSession::Options &options)
{
    FixtureModel::Options fixtures;
    fixtures.adapters = options.adapters;
    fixtures.devices = options.server.devices;
    fixtures.pauseAfter = options.pauseAfter;
    fixtures.stoppedResult = options.stoppedResult;
    return fixtures;
}

} // namespace

FlashSession::FlashSession(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_line(new FlashLine(lineOptions(options), this))
    , m_fixtures(new FixtureModel(fixtureOptions(options), this))
    // Devices kept out of a paused fixture: a row a second for each fixture.
    , m_keptOut([](const TransferReport &report) { return QStringLiteral("paused\n") + report.connection.adapter; })
{
    if (!options.recordPath.isEmpty())
        m_record = new FlashRecord(options.recordPath, options.stoppedResult, options.recordLimits, this);
    // The local record is the journal: what reaches the database is in it first.
    if (!options.databaseUrl.isEmpty() && !m_record)
        m_databaseProblem = QStringLiteral("the line's database needs the local record (--no-log keeps none)");
    else if (!options.databaseUrl.isEmpty() && DatabaseSender::usable(options.databaseUrl, &m_databaseProblem)) {
        DatabaseSender::Options database;
        database.url = options.databaseUrl;
        database.station = options.station;
        database.recordPath = options.recordPath;
        m_database = new DatabaseSender(database, this);
        connect(m_record, &FlashRecord::recorded, m_database, &DatabaseSender::send);
    }
    connect(m_line, &FlashLine::hintSig, this, &FlashSession::hintSig);
    connect(m_line, &FlashLine::listening, this, &FlashSession::listening);
    connect(m_line, &FlashLine::listenFailed, this, &FlashSession::listenFailed);
    connect(m_line, &FlashLine::deviceTurnedAway, this, &FlashSession::deviceTurnedAway);
    connect(m_line, &FlashLine::deviceDropped, this, &FlashSession::deviceDropped);
    connect(m_line, &FlashLine::acceptPaused, this, &FlashSession::acceptPaused);
    connect(m_line, &FlashLine::requestsEchoed, this, &FlashSession::requestsEchoed);
    connect(m_line, &FlashLine::blockSent, this, &FlashSession::blockSent);
    connect(m_line, &FlashLine::adapterGone, this, &FlashSession::adapterGone);
    connect(m_line, &FlashLine::adapterBack, this, &FlashSession::adapterBack);
    connect(m_line, &FlashLine::deviceConnected, this, [this](const DeviceConnection &device) {
        m_fixtures->connected(device);
        emit deviceConnected(device);
    });
    connect(m_line, &FlashLine::deviceLeft, m_fixtures, &FixtureModel::left);
    connect(m_line, &FlashLine::transferBegan, this, [this](const DeviceConnection &device) {
        m_fixtures->began(device);
        emit transferBegan(device);
    });
    connect(m_line, &FlashLine::progress, this, [this](const DeviceConnection &device, int percent) {
        m_fixtures->progressed(device, percent);
        emit progress(device, percent);
    });
    connect(m_line, &FlashLine::transferEnded, this, &FlashSession::ended);
    connect(m_line, &FlashLine::deviceKeptOut, this, &FlashSession::keepOut);
    connect(&m_keptOut, &BurstFilter::passed, this, [this](const TransferReport &report) {
        if (m_record)
            m_record->record(report);
        emit keptOut(report);
    });
    connect(m_line, &FlashLine::listenerClosed, this, [this] {
        m_closed = true;
        drainWhenIdle();
    });
    connect(m_line, &FlashLine::transfersStopped, this, &FlashSession::stopped);
    connect(m_fixtures, &FixtureModel::fixturePaused, this, [this](const QString &fixture, const QString &reason) {
        m_line->setPaused(fixture, true);
        emit fixturePaused(fixture, reason);
    });
    connect(m_fixtures, &FixtureModel::fixtureResumed, this, [this](const QString &fixture) {
        m_line->setPaused(fixture, false);
        emit fixtureResumed(fixture);
    });
}

FlashSession::~FlashSession() = default;

QSharedPointer<FlashImage> FlashSession::loadImage(const QString &path)
{
    const QSharedPointer<FlashImage> image = FlashImage::load(path);
    serve(image);
    return image;
}

void FlashSession::serve(const QSharedPointer<FlashImage> &image)
{
    m_line->slotRecive(image);
}

void FlashSession::startListen()
{
    m_closed = false;
    m_drained = false;
    m_line->startListen();
}

void FlashSession::closeListener()
{
    m_line->closeListener();
}

void FlashSession::stop()
{
    m_line->closeListener();
    m_line->stopTransfer();
}

void FlashSession::resume(const QString &fixture)
{
    m_fixtures->resume(fixture);
}

void FlashSession::ended(TransferReport report)
{
    report.station = m_options.station;
    m_fixtures->ended(&report);
    if (m_record)
        m_record->record(report);
    emit transferEnded(report);
    drainWhenIdle();
}

void FlashSession::keepOut(const DeviceConnection &device)
{
    TransferReport report;
    report.ending = TransferReport::Paused;
    report.connection = device;
    report.started = QDateTime::currentDateTime();
    report.ended = report.started;
    report.flashId = QUuid::createUuid();
    report.station = m_options.station;
    m_keptOut.add(report);
}

void FlashSession::drainWhenIdle()
{
    if (m_closed && !m_drained && !m_line->transferRunning()) {
        m_drained = true;
        emit drained();
    }
}

int FlashSession::finishRecord(QDeadlineTimer deadline, const std::function<bool()> &interrupted, QString *reason,
                               int *waiting)
{
    m_line->passCounted();
    m_keptOut.flush();
    reason->clear();
    const int unwritten = m_record ? m_record->finish(deadline, interrupted, reason) : 0;
    const int left = m_database ? m_database->finish(QDeadlineTimer(kDatabaseEndMsec)) : 0;
    if (waiting)
        *waiting = left;
    return unwritten;
}
