// checkedtext: line-oriented text files through a handle the caller owns, each failure
// reported through the result, errorcount and a "FEIL" box.
#include "checkedtext.h"

#include "Felles.h"
#include "log.h"

#include <cstring>

namespace {

constexpr char CtrlZ = 26;
int lastEofError = 0;

void box(const QString &text)
{
    platform::ui().message(QStringLiteral("FEIL"), text.left(511), platform::Icon::None);
}

// Gives the handle its name, which leaves it closed with an empty buffer.
void assign(textfile &f, const QString &name)
{
    if (f.state != TextFileState::Closed) platform::closeFile(f.handle);
    f.name = name;
    f.state = TextFileState::Closed;
    f.handle = platform::NoFile;
    f.bufpos = f.bufend = 0;
}

int open(textfile &f, const QString &name, platform::OpenMode mode)
{
    assign(f, name);
    if (name.size() > textfile::MaxName) return platform::ErrFilenameTooLong;
    int err = platform::openFile(name, mode, f.handle);
    // Only a file of a size a text file can sensibly have is read: its lines end up in memory.
    std::int64_t size = 0;
    if (err == 0 && mode == platform::OpenMode::Read &&
        (err = platform::fileSize(f.handle, size)) == 0)
        err = platform::checkTextFileSize(name, size);
    if (err) {
        if (f.handle != platform::NoFile) platform::closeFile(f.handle);
        f.handle = platform::NoFile;
        return err;
    }
    f.state = mode == platform::OpenMode::Read ? TextFileState::Reading : TextFileState::Writing;
    return 0;
}

int openChecked(textfile &f, const QString &name, platform::OpenMode mode, const QString &before,
                const QString &after)
{
    const int err = open(f, name, mode);
    if (err) {
        ++errorcount;
        box(before + name + after + QString::number(err) + u')');
    }
    return err;
}

int flush(textfile &f)
{
    const int n = f.bufpos;
    f.bufpos = 0;
    return n ? platform::writeFile(f.handle, f.buffer, n) : 0;
}

// Writes out buffered output and closes. The file is closed even when its last bytes cannot
// be written; the number tells.
int close(textfile &f)
{
    if (f.state == TextFileState::Closed) return ErrNotOpen;
    int err = f.state == TextFileState::Writing ? flush(f) : 0;
    const int closeErr = platform::closeFile(f.handle);
    if (!err) err = closeErr;
    f.state = TextFileState::Closed;
    f.handle = platform::NoFile;
    f.bufpos = f.bufend = 0;
    return err;
}

// Makes at least one byte available; returns false at the end of the file or on error.
bool fill(textfile &f, int &err)
{
    if (f.bufpos < f.bufend) return true;
    f.bufpos = f.bufend = 0;
    int got = 0;
    err = platform::readFile(f.handle, f.buffer, textfile::BufferSize, got);
    f.bufend = got;
    return err == 0 && got > 0;
}

// Reads the current line's bytes and moves past its end.
int readLine(textfile &f, QByteArray &bytes)
{
    if (f.state != TextFileState::Reading) return ErrNotOpenForInput;
    int err = 0;
    bool skipping = false; // after a Ctrl-Z inside the line
    while (fill(f, err)) {
        const char c = f.buffer[f.bufpos];
        if (c == CtrlZ && bytes.isEmpty() && !skipping) return 0; // the end of the file
        // The plain bytes up to the next one that means something, taken in one piece.
        qsizetype plain = 0;
        for (const char *p = f.buffer + f.bufpos; f.bufpos + plain < f.bufend; ++plain, ++p)
            if (*p == '\n' || *p == '\r' || *p == CtrlZ) break;
        if (plain > 0) {
            if (!skipping) bytes.append(f.buffer + f.bufpos, plain);
            f.bufpos += int(plain);
            continue;
        }
        ++f.bufpos;
        if (c == '\n') return 0;
        if (c == '\r' || skipping) continue; // a CR before LF ends nothing; a lone CR is dropped
        if (c == CtrlZ) {
            skipping = true;
            continue;
        }
        bytes.append(c);
    }
    return err;
}

} // namespace

textfile::~textfile()
{
    if (state != TextFileState::Closed) platform::closeFile(handle);
}

int resetsafe(textfile &f, const QString &name)
{
    return openChecked(f, name, platform::OpenMode::Read, QStringLiteral("Feil under åpning av "),
                       QStringLiteral("  (FEILNR.: "));
}

int appendsafe(textfile &f, const QString &name)
{
    return openChecked(f, name, platform::OpenMode::Append, QStringLiteral("Feil under åpning av "),
                       QStringLiteral("  ("));
}

int rewritesafe(textfile &f, const QString &name)
{
    return openChecked(f, name, platform::OpenMode::Rewrite,
                       QStringLiteral("Feil under oppretting av ny fil: "), QStringLiteral("  ("));
}

int writelnsafe(textfile &f, const QString &text)
{
    int err = 0;
    if (f.state != TextFileState::Writing) {
        err = ErrNotOpenForOutput;
    } else {
        const QByteArray bytes = platform::toAnsi(text) + "\r\n";
        for (qsizetype i = 0; i < bytes.size() && err == 0;) {
            const int n =
                int(std::min<qsizetype>(textfile::BufferSize - f.bufpos, bytes.size() - i));
            std::memcpy(f.buffer + f.bufpos, bytes.constData() + i, size_t(n));
            f.bufpos += n;
            i += n;
            if (f.bufpos == textfile::BufferSize) err = flush(f);
        }
    }
    if (err) ++errorcount;
    return err;
}

void readlnsafe(textfile &f, QString &line)
{
    QByteArray bytes;
    const int err = readLine(f, bytes);
    if (err) {
        ++errorcount;
        box(QStringLiteral("Lesefeil i tekstfil "));
        writelog(QStringLiteral("Lesefeil i tekstfil."));
    }
    line = trimspaces(platform::fromAnsi(bytes));
}

int closetextfile(textfile &f) { return close(f); }

int closesafe(textfile &f)
{
    const int err = close(f);
    if (err) {
        box(QStringLiteral("Feil under lukking av fil"));
        ++errorcount;
    }
    return err;
}

int appendline(const QString &name, const QString &text)
{
    textfile f;
    if (platform::fileExists(name))
        appendsafe(f, name);
    else
        rewritesafe(f, name);
    writelnsafe(f, text);
    return closesafe(f);
}

bool eoftextfile(textfile &f)
{
    lastEofError = 0;
    if (f.state != TextFileState::Reading) {
        lastEofError = ErrNotOpenForInput;
        return true;
    }
    int err = 0;
    if (!fill(f, err)) {
        lastEofError = err;
        return true;
    }
    return f.buffer[f.bufpos] == CtrlZ;
}

int eoftextfileerror()
{
    const int err = lastEofError;
    lastEofError = 0;
    return err;
}
