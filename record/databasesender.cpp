#include "record/databasesender.h"

#include "record/csv.h"
#include "record/databaseurl.h"
#include "record/flashrecord.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

// The table, column by column, in its own order.
struct TableColumn
{
    const char *name;
    const char *type; // as information_schema names it
};
const TableColumn kTable[] = {
        {"flash_id", "uuid"},
        {"station", "text"},
        {"started", "timestamp with time zone"},
        {"ended", "timestamp with time zone"},
        {"result", "text"},
        {"device", "text"},
        {"device_mac", "text"},
        {"serial", "text"},
        {"image", "text"},
        {"image_bytes", "bigint"},
        {"image_sha256", "text"},
        {"blocks_sent", "bigint"},
        {"bytes_sent", "bigint"},
        {"seconds", "double precision"},
        {"adapter", "text"},
        {"server_address", "text"},
        {"version", "text"},
};

// The record's column that a table column holds.
const RecordColumn &recordColumnOf(const char *sql)
{
    for (const RecordColumn &column : recordColumns()) {
        if (column.sql && qstrcmp(column.sql, sql) == 0)
            return column;
    }
    Q_UNREACHABLE();
}

QString typeOf(const TableColumn &column)
{
    const QString type = QLatin1String(column.type);
    return type == QLatin1String("timestamp with time zone") ? QStringLiteral("timestamptz") : type;
}

QString insertStatement()
{
    QStringList names;
    QStringList values;
    for (const TableColumn &column : kTable) {
        names << QLatin1String(column.name);
        // An empty field is no value at all.
        values << QStringLiteral("CAST(NULLIF(?, '') AS %1)").arg(typeOf(column));
    }
    return QStringLiteral("INSERT INTO flashes (%1) VALUES (%2) ON CONFLICT (flash_id) DO NOTHING")
            .arg(names.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")));
}

qint64 bytesOf(const RecordRow &row)
{
    qint64 bytes = 64;
    for (const QString &field : row.fields())
        bytes += field.size() * 2 + 16;
    return bytes;
}

QString errorOf(const QSqlError &error)
{
    const QString text = error.text().simplified();
    return text.isEmpty() ? QStringLiteral("the driver says nothing more") : text;
}

} // namespace

struct DatabaseSender::Shared
{
    Options options;
    DatabaseUrl url;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    std::deque<RecordRow> rows; // waiting, oldest first
    qint64 bytes = 0;
    QElapsedTimer clock;
    qint64 attemptSince = -1; // on the clock; -1: none under way
    bool outage = false; // said unreachable, and not reached since
    int caughtUp = 0; // rows that went since the outage was said
    bool ending = false;
    bool done = false;
    bool abandoned = false;
    DatabaseSender *owner = nullptr; // used only under the mutex, and never once abandoned

    // Posted to the owner's thread, where it has not gone.
    template<typename Say>
    void tell(Say say)
    {
        if (abandoned)
            return;
        DatabaseSender *to = owner;
        QMetaObject::invokeMethod(
                to, [to, say] { say(to); }, Qt::QueuedConnection);
    }
    // Under the mutex.
    void sayUnreachable(const QString &why)
    {
        if (outage)
            return;
        outage = true;
        caughtUp = 0;
        tell([why](DatabaseSender *to) { emit to->unreachable(why); });
    }
};

bool DatabaseSender::usable(const QString &url, QString *problem)
{
    const DatabaseUrl parsed = DatabaseUrl::parse(url);
    if (!parsed.problem.isEmpty()) {
        *problem = parsed.problem;
        return false;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        *problem = QStringLiteral("Qt's PostgreSQL driver (QPSQL) is missing, so the line's database cannot be "
                                  "reached (on Debian: install libqt%1sql%1-psql); the local record is kept all "
                                  "the same")
                           .arg(QT_VERSION_MAJOR);
        return false;
    }
    return true;
}

QString DatabaseSender::tableStatement()
{
    QStringList columns;
    for (const TableColumn &column : kTable) {
        columns << QStringLiteral("%1 %2%3").arg(QLatin1String(column.name), QLatin1String(column.type),
                                                 qstrcmp(column.name, "flash_id") == 0 ? QStringLiteral(" PRIMARY KEY")
                                                                                       : QString());
    }
    return QStringLiteral("CREATE TABLE IF NOT EXISTS flashes(%1)").arg(columns.join(QStringLiteral(", ")));
}

DatabaseSender::DatabaseSender(const Options &options, QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->options = options;
    m_shared->url = DatabaseUrl::parse(options.url);
    m_shared->owner = this;
    m_shared->clock.start();
    m_silence.setInterval(1000);
    connect(&m_silence, &QTimer::timeout, this, &DatabaseSender::checkSilence);
    m_silence.start();
    m_thread = std::thread(&DatabaseSender::run, m_shared);
}

DatabaseSender::~DatabaseSender()
{
    if (!m_finished)
        finish(QDeadlineTimer(2000));
}

void DatabaseSender::send(const QList<RecordRow> &rows)
{
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    for (const RecordRow &row : rows) {
        // A row without its flash's identity (an earlier version's) has no place there.
        if (row.value("flash_id").isEmpty())
            continue;
        // Beyond the bound it waits in the local record alone, for the next start.
        if (m_shared->bytes + bytesOf(row) > m_shared->options.maxWaitingBytes)
            continue;
        m_shared->rows.push_back(row);
        m_shared->bytes += bytesOf(row);
    }
    m_shared->wake.notify_one();
}

int DatabaseSender::waiting() const
{
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    return int(m_shared->rows.size());
}

void DatabaseSender::checkSilence()
{
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    const qint64 since = m_shared->attemptSince;
    if (since >= 0 && m_shared->clock.elapsed() - since > m_shared->options.silentMsec)
        m_shared->sayUnreachable(QStringLiteral("the database does not answer (nothing came back in %1 s)")
                                         .arg(m_shared->options.silentMsec / 1000));
}

namespace {

// What the table's columns (name: type) have other than ours, column by column.
QStringList columnsAmiss(QHash<QString, QString> found)
{
    QStringList wrong;
    for (const TableColumn &column : kTable) {
        const QString type = found.take(QLatin1String(column.name));
        if (type != QLatin1String(column.type))
            wrong << QStringLiteral("%1 %2 (%3)")
                             .arg(QLatin1String(column.name), QLatin1String(column.type),
                                  type.isEmpty() ? QStringLiteral("missing") : QStringLiteral("it is ") + type);
    }
    for (auto it = found.cbegin(); it != found.cend(); ++it)
        wrong << QStringLiteral("no column %1").arg(it.key());
    return wrong;
}

// One connection, and what the thread knows of it.
class Connection
{
public:
    Connection(const DatabaseUrl &url, const QString &name)
        : m_name(name)
    {
        QSqlDatabase database = url.addConnection(name);
    }
    ~Connection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }

    // Open, with the table there and as expected; else why not.
    QString open()
    {
        QSqlDatabase database = QSqlDatabase::database(m_name, false);
        if (database.isOpen() && m_tableChecked)
            return QString();
        if (!database.isOpen() && !database.open())
            return errorOf(database.lastError());
        QSqlQuery query(database);
        // Made where it is missing; a role that may not make it may still find it there.
        query.exec(DatabaseSender::tableStatement());
        if (!query.exec(QStringLiteral("SELECT column_name, data_type FROM information_schema.columns WHERE "
                                       "table_name = 'flashes' AND table_schema = current_schema()")))
            return fail(errorOf(query.lastError()));
        QHash<QString, QString> found;
        while (query.next())
            found.insert(query.value(0).toString(), query.value(1).toString());
        const QStringList wrong = columnsAmiss(found);
        if (!wrong.isEmpty())
            return fail(QStringLiteral("the table flashes does not have the columns TcpServer writes: %1; an "
                                       "administrator mends it, or gives the station a database of its own")
                                .arg(wrong.join(QStringLiteral(", "))));
        m_tableChecked = true;
        return QString();
    }

    // The newest row this station has there, or none.
    QDateTime newest(const QString &station, QString *error)
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        query.prepare(QStringLiteral("SELECT max(ended) FROM flashes WHERE station = ?"));
        query.addBindValue(station);
        if (!query.exec() || !query.next()) {
            *error = fail(errorOf(query.lastError()));
            return QDateTime();
        }
        return query.value(0).toDateTime();
    }

    QString insert(const QList<RecordRow> &rows)
    {
        QSqlDatabase database = QSqlDatabase::database(m_name, false);
        if (!database.transaction())
            return fail(errorOf(database.lastError()));
        QSqlQuery query(database);
        if (!query.prepare(insertStatement()))
            return fail(errorOf(query.lastError()));
        for (const RecordRow &row : rows) {
            for (const TableColumn &column : kTable)
                query.addBindValue(row.value(recordColumnOf(column.name).key));
            if (!query.exec()) {
                const QString error = errorOf(query.lastError());
                database.rollback();
                return fail(error);
            }
        }
        return database.commit() ? QString() : fail(errorOf(database.lastError()));
    }

private:
    // A connection that failed is opened afresh next time.
    QString fail(const QString &error)
    {
        QSqlDatabase::database(m_name, false).close();
        m_tableChecked = false;
        return error;
    }

    const QString m_name;
    bool m_tableChecked = false;
};

// The rows of this station in the local record that ended after since.
QList<RecordRow> localRowsAfter(const QString &path, const QString &station, const QDateTime &since)
{
    QList<RecordRow> rows;
    for (const QString &file : FlashRecord::files(path)) {
        QFile read(file);
        if (!read.open(QIODevice::ReadOnly))
            continue;
        const QList<QStringList> lines = parseCsv(read.readAll());
        for (int i = 1; i < lines.size(); ++i) {
            const RecordRow row = RecordRow::fromCsv(lines.first(), lines.at(i));
            if (!row.value("flash_id").isEmpty() && row.value("station") == station &&
                (!since.isValid() || row.ended() > since))
                rows << row;
        }
    }
    return rows;
}

} // namespace

void DatabaseSender::run(const std::shared_ptr<Shared> &shared)
{
    using Clock = std::chrono::steady_clock;
    {
        Connection connection(shared->url, QStringLiteral("tcpserver-database-%1").arg(quintptr(shared.get()), 0, 16));
        QList<RecordRow> catchUp; // from the local record, before what comes now
        bool caughtUpRead = shared->options.recordPath.isEmpty();
        int pause = shared->options.firstPauseMsec;
        Clock::time_point next = Clock::now();
        std::unique_lock<std::mutex> lock(shared->mutex);
        for (;;) {
            auto due = [&] {
                return shared->ending ||
                        (Clock::now() >= next && (!caughtUpRead || !catchUp.isEmpty() || !shared->rows.empty()));
            };
            if (!caughtUpRead || !catchUp.isEmpty() || !shared->rows.empty())
                shared->wake.wait_until(lock, next, due);
            else
                shared->wake.wait(lock, due);
            const bool last = shared->ending;
            if (last && caughtUpRead && catchUp.isEmpty() && shared->rows.empty())
                break;
            QList<RecordRow> batch;
            const bool fromLocal = !catchUp.isEmpty();
            if (!fromLocal) {
                for (size_t i = 0; i < shared->rows.size() && batch.size() < shared->options.batchRows; ++i)
                    batch << shared->rows.at(i);
            }
            shared->attemptSince = shared->clock.elapsed();
            lock.unlock();

            QString error = connection.open();
            if (error.isEmpty() && !caughtUpRead) {
                const QDateTime newest = connection.newest(shared->options.station, &error);
                if (error.isEmpty()) {
                    catchUp = localRowsAfter(shared->options.recordPath, shared->options.station, newest);
                    caughtUpRead = true;
                }
            }
            if (error.isEmpty() && fromLocal)
                batch = catchUp.mid(0, shared->options.batchRows);
            if (error.isEmpty() && !batch.isEmpty())
                error = connection.insert(batch);

            lock.lock();
            shared->attemptSince = -1;
            if (!error.isEmpty()) {
                shared->sayUnreachable(error);
                next = Clock::now() + std::chrono::milliseconds(pause);
                pause = qMin(pause * 2, shared->options.longestPauseMsec);
            } else {
                if (fromLocal) {
                    catchUp = catchUp.mid(int(batch.size()));
                } else {
                    for (const RecordRow &row : qAsConst(batch))
                        shared->bytes -= bytesOf(row);
                    shared->rows.erase(shared->rows.begin(), shared->rows.begin() + batch.size());
                }
                shared->caughtUp += int(batch.size());
                pause = shared->options.firstPauseMsec;
                next = Clock::now();
                if (shared->outage && catchUp.isEmpty() && shared->rows.empty()) {
                    shared->outage = false;
                    const int caughtUp = shared->caughtUp;
                    shared->tell([caughtUp](DatabaseSender *to) { emit to->reached(caughtUp); });
                }
            }
            if (last)
                break;
        }
        lock.unlock();
    }
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->done = true;
    shared->finished.notify_all();
}

int DatabaseSender::finish(QDeadlineTimer deadline)
{
    m_finished = true;
    m_silence.stop();
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    m_shared->ending = true;
    m_shared->wake.notify_one();
    while (!m_shared->done && !deadline.hasExpired())
        m_shared->finished.wait_for(lock, std::chrono::milliseconds(qMax<qint64>(1, deadline.remainingTime())));
    const int left = int(m_shared->rows.size());
    if (m_shared->done) {
        lock.unlock();
        m_thread.join();
        return left;
    }
    // The database does not answer: the rows wait in the local record for the next start.
    m_shared->abandoned = true;
    lock.unlock();
    m_thread.detach();
    return left;
}
