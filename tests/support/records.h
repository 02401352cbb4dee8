#ifndef RECORDS_H
#define RECORDS_H

#include "record/csv.h"

#include <QFile>

// The rows of a flash record file as a spreadsheet reads them; none where
// there is no such file.
inline QList<QStringList> readCsv(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? parseCsv(file.readAll()) : QList<QStringList>();
}

#endif // RECORDS_H
