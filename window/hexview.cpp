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
    QString text;
    text.reserve(kFullLength);
    for (int i = 0; i < shown; ++i) {
        const uchar byte = uchar(data[i]);
        text.append(QLatin1Char(digits[byte >> 4]));
        text.append(QLatin1Char(digits[byte & 0x0F]));
        if (i < kShownBytes - 1)
            text.append(QLatin1Char(' '));
    }
    if (shown < kShownBytes)
        text = text.leftJustified(kPaddedLength, QLatin1Char(' '));
    return text;
}
