#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QCommandLineOption>
#include <QString>

class QCommandLineParser;

// The options the programs take for the flash record: where the local record
// is, the line's database, and the station's name in every row. The database
// and the name may also be set once for the user, in the settings file
// (settingsPath()), as database=URL and station=NAME; the command line wins.
// A program that only reads the record takes --log and --database alone.
enum class RecordUse { Writing, Reading };
void addRecordOptions(QCommandLineParser *parser, RecordUse use = RecordUse::Writing);
// The record's file as the options name it: --log FILE, --no-log (empty), or
// the user's own default; empty with *problem saying why where the user has
// no place for the default.
QString recordPath(const QCommandLineParser &parser, QString *problem, RecordUse use = RecordUse::Writing);
// The line's database URL (empty: none), and this station's name (by
// default the host's).
QString databaseUrl(const QCommandLineParser &parser);
QString stationName(const QCommandLineParser &parser);
// The user's settings file.
QString settingsPath();

#endif // COMMANDLINE_H
