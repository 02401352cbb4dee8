#ifndef FLASHREPORTS_H
#define FLASHREPORTS_H

#include "record/recordrow.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

// What a line's supervisor asks of the record, from a station's local record
// or from the line's database alike: the same rows give the same answers.
namespace reports {

// Where the rows come from.
struct Source
{
    QString databaseUrl; // the line's database; empty: the local record
    QString recordPath; // the local record (its first file)
};

// Which rows: those that began in [since, until); an invalid bound is none.
struct Span
{
    QDateTime since;
    QDateTime until;
    bool contains(const QDateTime &started) const;
};

// The rows, oldest first; false, and why in *error, where the source cannot be read.
bool loadRows(const Source &source, const Span &span, QList<RecordRow> *rows, QString *error);

// A time as an operator types it: 2026-12-08 (its local midnight),
// 2026-12-08T14:00 (local), 2026-12-08T14:00+01:00, today, yesterday.
QDateTime parseWhen(const QString &text);

enum class By { Station, Adapter, Image, Day, Serial };
bool parseBy(const QString &text, By *by);

struct Summary
{
    QString group; // as shown
    QJsonObject keys; // the group's own JSON keys
    int flashes = 0;
    int complete = 0;
    int failed = 0;
    double firstPassYield = 0; // of the units seen: complete on their first attempt
    double medianSeconds = 0; // of the complete flashes
};

// Per group, in the order each group first began. Refusals and devices kept
// out of a paused fixture are no flashes; a unit is its MAC where known.
QList<Summary> summarize(const QList<RecordRow> &rows, By by);
// Every flash of a unit (its MAC, or its serial), oldest first.
QList<RecordRow> flashesOf(const QList<RecordRow> &rows, const QString &macOrSerial);

} // namespace reports

#endif // FLASHREPORTS_H
