// Felles: small helpers shared by every program of the base library.
#include "Felles.h"

#include "platform.h"

#include <QLocale>
#include <QStringView>

#include <algorithm>

std::int32_t getfilesize(const QString &name)
{
    platform::FileHandle h;
    if (platform::openFile(name, platform::OpenMode::ReadWrite, h)) return -1;
    std::int64_t size = 0;
    const int err = platform::fileSize(h, size);
    if (platform::closeFile(h) || err) return -1;
    // Sizes a 32-bit result cannot hold are a failure too, never a wrapped number.
    return size > INT32_MAX ? -1 : std::int32_t(size);
}

QString newext(const QString &name, const QString &extension)
{
    const qsizetype dot = name.indexOf(u'.');
    return (dot < 0 ? name + u'.' : name.left(dot + 1)) + extension;
}

void newext(const QString &name, const QString &extension, QString &result)
{
    result = newext(name, extension);
}

QString trimspaces(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && text[end - 1] == u' ') --end;
    qsizetype start = 0;
    while (start < end && text[start] == u' ') ++start;
    return text.sliced(start, end - start);
}

void trimspaces(const QString &text, QString &result) { result = trimspaces(text); }

QString oneline(const QString &text, bool keepControls)
{
    // DEL and the characters above it are left alone: they end no line.
    QString out = text;
    for (QChar &c : out)
        if (c == u'\r' || c == u'\n' || (!keepControls && c.unicode() < 32)) c = u' ';
    return out;
}

void shellopen(const QString &file, const QString &parameters, const QString &folder)
{
    platform::UserInterface &ui = platform::ui();
    ui.setBusyCursor(true);
    // Whole: a path cut short names another file, or the folder above it.
    ui.shellOpen(file, parameters, folder);
    ui.setBusyCursor(false);
}

QString encodestr(const QString &text)
{
    QString result = text;
    for (qsizetype i = 0; i < result.size(); ++i)
        result[i] = QChar(char16_t((result[i].unicode() + i + 1) & 0xFFFF));
    return u'z' + result + u'2';
}

QString decodestr(const QString &text)
{
    QString result = text;
    if (!result.isEmpty()) result.remove(0, 1);
    if (!result.isEmpty()) result.chop(1);
    for (qsizetype i = 0; i < result.size(); ++i)
        result[i] = QChar(char16_t((result[i].unicode() - (i + 1)) & 0xFFFF));
    return result;
}

namespace {

// White space as a time format has it: ASCII only.
bool asciiSpace(QChar c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// The long format carries a time-zone field, which the text never shows: each run of "t", with
// the white space on both sides of it, becomes one space. A loop, not a regular expression:
// every start stamps a time, and compiling one would cost it about a millisecond.
QString withoutZone(const QString &format)
{
    QString out;
    out.reserve(format.size());
    const qsizetype n = format.size();
    for (qsizetype i = 0; i < n;) {
        qsizetype j = i;
        while (j < n && asciiSpace(format[j])) ++j;
        qsizetype k = j;
        while (k < n && format[k] == u't') ++k;
        if (k == j) {
            // No zone here: the white space and the next character stay.
            out += QStringView(format).sliced(i, std::min(j + 1, n) - i);
            i = j + 1;
            continue;
        }
        while (k < n && asciiSpace(format[k])) ++k;
        out += u' ';
        i = k;
    }
    return out;
}

} // namespace

QString datetimetext(const QDateTime &when)
{
    const QLocale locale;
    QString text = locale.toString(when.date(), locale.dateFormat(QLocale::ShortFormat));
    const QTime time = when.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0) return text;
    const QString format = withoutZone(locale.timeFormat(QLocale::LongFormat));
    return text + u' ' + locale.toString(time, format.trimmed());
}

QString datetimetext() { return datetimetext(platform::now()); }
