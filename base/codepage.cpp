// codepage: the ANSI code page (Windows-1252 on Linux) and the upper case of names.
#include "codepage.h"

#include <array>

namespace platform {

// ---- Windows-1252 ----

namespace {

// 0x80..0x9F; the five bytes Windows leaves undefined map to the C1 control of the same value,
// as Windows itself converts them, so that every byte survives a round trip.
constexpr std::array<char16_t, 32> cp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int ansiByte(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
    for (int i = 0; i < 32; ++i)
        if (cp1252High[i] == c) return 0x80 + i;
    return -1;
}

} // namespace

QChar ansiChar(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0) return QChar(cp1252High[byte - 0x80]);
    return QChar(char16_t(byte));
}

QByteArray toAnsi(QStringView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const int b = ansiByte(c);
        out.append(b < 0 ? '?' : char(b));
        // A character outside the basic plane is one character, so one "?".
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
    }
    return out;
}

QString fromAnsi(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *d = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        d[i] = ansiChar(static_cast<unsigned char>(bytes[i]));
    return out;
}

bool ansiCanHold(QStringView text)
{
    for (QChar c : text)
        if (ansiByte(c.unicode()) < 0) return false;
    return true;
}

// ---- Upper case ----

QString upperCase(const QString &text)
{
    QString out = text;
    for (QChar &c : out) c = c.toUpper();
    return out;
}

} // namespace platform
