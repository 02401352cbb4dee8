#include "record/csv.h"

namespace {

const QString kFormulaStarts = QStringLiteral("=+-@\t\r");

QString asText(const QString &field)
{
    return !field.isEmpty() && kFormulaStarts.contains(field.at(0)) ? QLatin1Char('\'') + field : field;
}

// The ' that asText() put before a formula's first character goes again.
QString fromText(const QString &field)
{
    return field.size() > 1 && field.at(0) == QLatin1Char('\'') && kFormulaStarts.contains(field.at(1)) ? field.mid(1)
                                                                                                        : field;
}

QString csvField(QString text)
{
    text = asText(text);
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

} // namespace

QByteArray csvLine(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &field : fields)
        quoted << csvField(field);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QList<QStringList> parseCsv(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes);
    QList<QStringList> rows;
    QStringList fields;
    QString field;
    bool quoted = false;
    auto endField = [&] {
        fields << fromText(field);
        field.clear();
    };
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (quoted && c == QLatin1Char('"') && next == QLatin1Char('"')) {
            field += c;
            ++i;
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (quoted) {
            field += c;
        } else if (c == QLatin1Char(',')) {
            endField();
        } else if (c == QLatin1Char('\n') || (c == QLatin1Char('\r') && next == QLatin1Char('\n'))) {
            endField();
            rows << fields;
            fields.clear();
            i += c == QLatin1Char('\r') ? 1 : 0;
        } else {
            field += c;
        }
    }
    // A last line without its line break (a file edited by hand) is a row too.
    if (!field.isEmpty() || !fields.isEmpty()) {
        endField();
        rows << fields;
    }
    return rows;
}
