#include "csv.h"

#include <QFile>

QList<QStringList> parseCsv(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes);
    QList<QStringList> rows;
    QStringList fields;
    QString field;
    bool quoted = false;
    auto next = [&](int i) { return i + 1 < text.size() ? text.at(i + 1) : QChar(); };
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == '"' && next(i) == '"')
                field += c, ++i;
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields << field, field.clear();
        } else if (c == '\r' && next(i) == '\n') {
            rows << (fields << field), fields.clear(), field.clear(), ++i;
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !fields.isEmpty())
        rows << (fields << field + "<no line end>");
    return rows;
}

QList<QStringList> readCsv(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? parseCsv(file.readAll()) : QList<QStringList>();
}
