#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QCommandLineOption>
#include <QString>

class QCommandLineParser;

// The options both programs take for the flash record.
void addRecordOptions(QCommandLineParser *parser);
// The record's file as the options name it: --log FILE, --no-log (empty), or
// the user's own default; empty with *problem saying why where the user has
// no place for the default.
QString recordPath(const QCommandLineParser &parser, QString *problem);

#endif // COMMANDLINE_H
