#include "window/hexview.h"

namespace {
const int kShownBytes = 334;
const int kFullLength = 2 * kShownBytes + (kShownBytes - 1); // 1001
const int kPaddedLength = 999;
} // namespace

QString hexView(const char *data, int length)
{
    static const char digits[] = "0123456789ABCDEF";
    const int shown = qMin(qMax(length, 0), kShownBytes);
    // Written in place: this runs for every block sent.
    QString text(shown < kShownBytes ? kPaddedLength : kFullLength, QLatin1Char(' '));
    QChar *out = text.data();
    for (int i = 0; i < shown; ++i) {
        const uchar byte = uchar(data[i]);
        *out++ = QLatin1Char(digits[byte >> 4]);
        *out++ = QLatin1Char(digits[byte & 0x0F]);
        ++out; // the space after each pair (or the padding) is already there
    }
    return text;
}
