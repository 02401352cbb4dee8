#include "files/systemname.h"

namespace {

const ushort kEscapedByte = 0xDC00; // + the byte, which is at least 0x80

// The length of the valid UTF-8 sequence at data[0], or 0 where there is none:
// no overlong form, no surrogate, nothing beyond U+10FFFF.
int validSequence(const uchar *data, int left)
{
    const uchar first = data[0];
    int length = 0;
    uint code = 0;
    uint least = 0;
    if (first < 0x80)
        return 1;
    if ((first & 0xE0) == 0xC0) {
        length = 2;
        code = first & 0x1F;
        least = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3;
        code = first & 0x0F;
        least = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4;
        code = first & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((data[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (data[i] & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

bool isEscapedByte(QChar c, QChar before)
{
    return c.unicode() >= kEscapedByte + 0x80 && c.unicode() <= kEscapedByte + 0xFF && !before.isHighSurrogate();
}

} // namespace

QString nameFromSystem(const QByteArray &bytes)
{
    QString name;
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const int size = int(bytes.size());
    for (int at = 0; at < size;) {
        const int length = validSequence(data + at, size - at);
        if (length == 0) {
            name += QChar(ushort(kEscapedByte + data[at]));
            ++at;
            continue;
        }
        name += QString::fromUtf8(bytes.constData() + at, length);
        at += length;
    }
    return name;
}

QByteArray nameToSystem(const QString &name)
{
    QByteArray bytes;
    int run = 0; // where the characters not yet encoded begin
    for (int i = 0; i < name.size(); ++i) {
        if (!isEscapedByte(name.at(i), i > 0 ? name.at(i - 1) : QChar()))
            continue;
        bytes += name.mid(run, i - run).toUtf8();
        bytes += char(name.at(i).unicode() - kEscapedByte);
        run = i + 1;
    }
    return bytes + name.mid(run).toUtf8();
}

QString printableName(const QString &name)
{
    QString shown;
    for (int i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (isEscapedByte(c, i > 0 ? name.at(i - 1) : QChar()))
            shown += QStringLiteral("\\x%1").arg(c.unicode() - kEscapedByte, 2, 16, QLatin1Char('0'));
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}
