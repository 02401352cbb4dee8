#ifndef CSV_H
#define CSV_H

#include <QByteArray>
#include <QList>
#include <QStringList>

// An RFC 4180 reader, as a spreadsheet reads the flash record: quoted fields
// with doubled quotes, commas and line breaks inside; CRLF between rows; a
// UTF-8 byte-order mark at the start is no part of the first field.
QList<QStringList> parseCsv(const QByteArray &bytes);
// The rows of the file at path; none when there is no such file.
QList<QStringList> readCsv(const QString &path);

#endif // CSV_H
