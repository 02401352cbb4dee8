#ifndef RECORDROW_H
#define RECORDROW_H

#include "server/transferreport.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// The record's columns, in one table that the CSV file, the JSON lines and
// the line's database all use: the file's title, the JSON key, the database
// column and its type.
struct RecordColumn
{
    enum Kind { Text, Integer, Real, Time, Uuid };
    const char *title;
    const char *key;
    const char *sql; // null: not in the database (it follows from the others)
    Kind kind;
};
const QList<RecordColumn> &recordColumns();

// One row of the record: one flash, or a refusal, or devices kept out of a
// paused fixture. Its fields are text, as the file has them; a row read from
// an older file lacks the columns it did not have.
class RecordRow
{
public:
    RecordRow() = default;
    static RecordRow of(const TransferReport &report, const QString &stoppedResult);
    // A row of a file whose first row is header; columns are found by their titles.
    static RecordRow fromCsv(const QStringList &header, const QStringList &fields);
    // The columns' titles, as the first row of a file names them.
    static QStringList titles();

    QString value(const char *key) const;
    void setValue(const char *key, const QString &value);
    // Every column's field, in the file's order.
    QStringList fields() const { return m_fields; }
    // The JSON keys and values, numbers as numbers.
    QJsonObject json() const;
    QDateTime started() const;
    QDateTime ended() const;
    double seconds() const { return value("seconds").toDouble(); }
    bool isComplete() const { return value("result_text") == QLatin1String("complete"); }
    // A flash that began (not a refusal, not a device kept out), by the record's words.
    bool isFlash() const;
    bool operator==(const RecordRow &other) const { return m_fields == other.m_fields; }

private:
    QStringList m_fields;
};

// With the offset from UTC, so that rows from PCs in other time zones compare.
QString isoTime(const QDateTime &time);
QDateTime parseIsoTime(const QString &text);

#endif // RECORDROW_H
