#ifndef CSV_H
#define CSV_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The flash record's CSV (RFC 4180, UTF-8), as it is written and as a
// spreadsheet reads it back.

// One row, its fields quoted where they hold a comma, a quote or a line
// break, ended by CRLF. A field a spreadsheet would take for a formula (it
// begins with =, +, -, @, a tab or a carriage return) gets a ' before it, so
// that it shows as text (OWASP's advice against CSV injection).
QByteArray csvLine(const QStringList &fields);
// The rows of a file: quoted fields with doubled quotes, commas and line
// breaks inside; CRLF (or, in a file edited by hand, LF) between rows; a
// UTF-8 byte-order mark at the start is no part of the first field. Fields
// come back as they were given to csvLine(), without the ' it added.
QList<QStringList> parseCsv(const QByteArray &bytes);

#endif // CSV_H
