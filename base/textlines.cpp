// textlines: a whole text file as a list of lines: its decoding and encoding, and its
// reading and writing in one piece, the write replacing the file whole where asked.
#include "textlines.h"

#include "codepage.h"
#include "environment.h"
#include "errors.h"
#include "files.h"
#include "memory.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QVarLengthArray>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

// ---- Whole-file text ----

namespace {

// UTF-16 is taken unit by unit, so that any code unit survives, a lone surrogate half
// included (a scrambled password can hold one).
QString fromUtf16Units(QByteArrayView bytes, bool bigEndian)
{
    // An odd byte at the end is one unit more, sized for now, not appended into spare room.
    QString out((bytes.size() + 1) / 2, Qt::Uninitialized);
    QChar *d = out.data();
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        d[i / 2] = QChar(char16_t(bigEndian ? (a << 8) | b : (b << 8) | a));
    }
    if (bytes.size() % 2) d[bytes.size() / 2] = QChar::ReplacementCharacter;
    return out;
}

QByteArray toUtf16Units(const QString &text, bool bigEndian)
{
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        out[2 * i] = char(bigEndian ? u >> 8 : u & 0xFF);
        out[2 * i + 1] = char(bigEndian ? u & 0xFF : u >> 8);
    }
    return out;
}

// Units of one byte (ANSI, UTF-8) or of two (UTF-16, unit by unit as it is decoded).
template <int Width, bool BigEndian> struct Units {
    const char *p;
    qsizetype size;
    char16_t operator()(qsizetype i) const
    {
        if constexpr (Width == 1) return static_cast<unsigned char>(p[i]);
        const auto a = static_cast<unsigned char>(p[2 * i]);
        const auto b = static_cast<unsigned char>(p[2 * i + 1]);
        return char16_t(BigEndian ? (a << 8) | b : (b << 8) | a);
    }
};

// Calls line(start, length) for each line of n units: CR LF, lone CR and lone LF end a line,
// a final end adds none. A line that returns false ends the walk.
template <class Unit, class Line> void forEachLine(qsizetype n, const Unit &unit, Line line)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = unit(i);
        if (c != u'\r' && c != u'\n') continue;
        if (!line(start, i - start)) return;
        if (c == u'\r' && i + 1 < n && unit(i + 1) == u'\n') ++i;
        start = i + 1;
    }
    if (start < n) line(start, n - start);
}

// The same over bytes, each line end found by memchr, so that long lines cost little.
template <class Line> void forEachLine(qsizetype n, const Units<1, false> &unit, Line line)
{
    const char *p = unit.p;
    const auto find = [&](char c, qsizetype from) {
        const void *at = from < n ? std::memchr(p + from, c, std::size_t(n - from)) : nullptr;
        return at ? static_cast<const char *>(at) - p : n;
    };
    qsizetype start = 0;
    qsizetype cr = find('\r', 0);
    qsizetype lf = find('\n', 0);
    for (qsizetype i = std::min(cr, lf); i < n; i = std::min(cr, lf)) {
        if (!line(start, i - start)) return;
        start = i + 1;
        if (i == cr && start < n && p[start] == '\n') ++start;
        if (cr < start) cr = find('\r', start);
        if (lf < start) lf = find('\n', start);
    }
    if (start < n) line(start, n - start);
}

// The encoding a file's first bytes select by their byte-order mark, and the mark's length.
Encoding encodingOf(QByteArrayView start)
{
    if (start.startsWith("\xEF\xBB\xBF")) return Encoding::Utf8;
    if (start.startsWith("\xFF\xFE")) return Encoding::Utf16LE;
    if (start.startsWith("\xFE\xFF")) return Encoding::Utf16BE;
    return Encoding::Ansi;
}

qsizetype markSize(Encoding enc)
{
    switch (enc) {
    case Encoding::Ansi: return 0;
    case Encoding::Utf8: return 3;
    case Encoding::Utf16LE:
    case Encoding::Utf16BE: return 2;
    }
    return 0;
}

// One line's bytes, its end not included, as text. Each line on its own: the line ends are
// single units in every encoding read, so no character spans two lines, and nothing of the
// file but the line is ever decoded at once. Stateless, so that a character cut off at the end
// becomes a replacement character instead of vanishing; a mark is taken off already, and a
// second one is text.
class LineDecoder {
  public:
    explicit LineDecoder(Encoding enc) : m_enc(enc) {}
    QString operator()(QByteArrayView bytes) const
    {
        switch (m_enc) {
        case Encoding::Ansi: return fromAnsi(bytes);
        case Encoding::Utf8: {
            // The decoder takes a unit a byte, and a line kept among a million should not carry
            // what its longer letters left over: a short line is decoded into room of its own
            // first, a long one given back its spare room after.
            if (m_utf8.requiredSpace(bytes.size()) > m_units.size()) {
                QString line = m_utf8.decode(bytes);
                line.squeeze();
                return line;
            }
            if (bytes.isEmpty()) return m_utf8.decode(bytes);
            const QChar *end = m_utf8.appendToBuffer(m_units.data(), bytes);
            return QString(m_units.constData(), end - m_units.constData());
        }
        case Encoding::Utf16LE: return fromUtf16Units(bytes, false);
        case Encoding::Utf16BE: return fromUtf16Units(bytes, true);
        }
        return QString();
    }

  private:
    Encoding m_enc;
    mutable QStringDecoder m_utf8{QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom |
                                                            QStringConverter::Flag::Stateless};
    mutable QVarLengthArray<QChar, 256> m_units = QVarLengthArray<QChar, 256>(256);
};

// Calls line(bytes) for each line of data (after its mark) in the units of enc; an odd byte at
// the end of UTF-16 belongs to the last line.
template <class Line> void walkUnits(QByteArrayView data, Encoding enc, Line line)
{
    const auto walk = [&](auto units, qsizetype width) {
        forEachLine(data.size() / width, units, [&](qsizetype start, qsizetype length) {
            const qsizetype end = start + length == data.size() / width ? data.size()
                                                                        : (start + length) * width;
            return line(data.sliced(start * width, end - start * width));
        });
    };
    // The odd byte of UTF-16 after a final line end makes a line of its own.
    const auto oddLine = [&](qsizetype width, auto units) {
        const qsizetype n = data.size() / width;
        if (data.size() % width && (n == 0 || units(n - 1) == u'\r' || units(n - 1) == u'\n'))
            line(data.sliced(n * width));
    };
    switch (enc) {
    case Encoding::Ansi:
    case Encoding::Utf8: walk(Units<1, false>{data.data(), data.size()}, 1); break;
    case Encoding::Utf16LE: {
        const Units<2, false> units{data.data(), data.size()};
        walk(units, 2);
        oddLine(2, units);
        break;
    }
    case Encoding::Utf16BE: {
        const Units<2, true> units{data.data(), data.size()};
        walk(units, 2);
        oddLine(2, units);
        break;
    }
    }
}

template <int Width, bool BigEndian> qsizetype countIn(QByteArrayView data, qsizetype limit)
{
    const Units<Width, BigEndian> units{data.data(), data.size()};
    qsizetype lines = 0;
    forEachLine(data.size() / Width, units,
                [&](qsizetype, qsizetype) { return ++lines <= limit || limit < 0; });
    // An odd byte at the end of UTF-16 becomes a character of the last line.
    if (data.size() % Width && (limit < 0 || lines <= limit)) {
        const qsizetype n = data.size() / Width;
        if (n == 0 || units(n - 1) == u'\r' || units(n - 1) == u'\n') ++lines;
    }
    return limit >= 0 ? std::min(lines, limit + 1) : lines;
}

} // namespace

QString decodeUtf16(QByteArrayView bytes, bool bigEndian)
{
    return fromUtf16Units(bytes, bigEndian);
}

QStringList decodeLines(QByteArrayView data, Encoding &enc)
{
    enc = encodingOf(data);
    const qsizetype mark = markSize(enc);
    const LineDecoder decode(enc);
    QStringList lines;
    walkUnits(data.sliced(mark), enc, [&](QByteArrayView line) {
        lines.append(decode(line));
        return true;
    });
    return lines;
}

Encoding writableEncoding(const QStringList &lines, Encoding wanted)
{
    bool ansi = wanted == Encoding::Ansi;
    bool utf8 = wanted != Encoding::Utf16LE && wanted != Encoding::Utf16BE;
    for (const QString &line : lines) {
        if (ansi && !ansiCanHold(line)) ansi = false;
        // UTF-8 cannot hold a lone surrogate half; UTF-16 holds every code unit.
        if (utf8 && !line.isValidUtf16()) utf8 = false;
    }
    if (ansi) return Encoding::Ansi;
    if (utf8) return wanted == Encoding::Ansi ? Encoding::Utf8 : wanted;
    return wanted == Encoding::Utf16BE ? Encoding::Utf16BE : Encoding::Utf16LE;
}

QByteArray encodeLines(const QStringList &lines, Encoding enc)
{
    QString text;
    qsizetype total = 0;
    for (const QString &line : lines) total += line.size() + 2;
    text.reserve(total);
    for (const QString &line : lines) {
        text += line;
        text += u"\r\n";
    }
    switch (enc) {
    case Encoding::Ansi: return toAnsi(text);
    case Encoding::Utf8: return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case Encoding::Utf16LE: return QByteArray("\xFF\xFE") + toUtf16Units(text, false);
    case Encoding::Utf16BE: return QByteArray("\xFE\xFF") + toUtf16Units(text, true);
    }
    return {};
}

qsizetype countLines(QByteArrayView data, qsizetype limit)
{
    if (data.startsWith("\xEF\xBB\xBF")) return countIn<1, false>(data.sliced(3), limit);
    if (data.startsWith("\xFF\xFE")) return countIn<2, false>(data.sliced(2), limit);
    if (data.startsWith("\xFE\xFF")) return countIn<2, true>(data.sliced(2), limit);
    return countIn<1, false>(data, limit);
}

int checkTextFileSize(const QString &path, std::int64_t size)
{
    if (size <= MaxTextFileSize) return NoError;
    notice(QStringLiteral("FEIL: ") + path + QStringLiteral(" er for stor til å leses (") +
           QString::number(size) + QStringLiteral(" byte, grensen er ") +
           QString::number(MaxTextFileSize) + QStringLiteral(" byte)"));
    return ErrFileTooLarge;
}

int readBytes(const QString &path, QByteArray &data)
{
    data.clear();
    FileHandle h;
    if (int err = openFile(path, OpenMode::Read, h)) return err;
    std::int64_t size = 0;
    int err = fileSize(h, size);
    // Room for the whole file at once, so the bytes are not copied over and over as they grow.
    if (!err && size <= MaxTextFileSize) {
        data.reserve(qsizetype(size));
        preferLargePages(data.data(), std::size_t(data.capacity()));
    }
    // The size is checked again while reading: the file may grow after the first look.
    char buffer[65536];
    int got = 0;
    while (!err && size <= MaxTextFileSize &&
           (err = readFile(h, buffer, sizeof buffer, got)) == 0 && got > 0) {
        data.append(buffer, got);
        size = std::max<std::int64_t>(size, data.size());
    }
    closeFile(h);
    if (!err) err = checkTextFileSize(path, size);
    if (err) data.clear();
    return err;
}

namespace {

// Where the last whole line of buf[pos, size) ends, looking no further back than the unit
// before since (a line end found there earlier would have been taken); -1 when none does. A CR
// as the last unit is no end yet: an LF may follow in the next piece.
template <int Width, bool BigEndian>
qsizetype lastLineEnd(const QByteArray &buf, qsizetype pos, qsizetype since)
{
    const Units<Width, BigEndian> units{buf.constData() + pos, buf.size() - pos};
    const qsizetype n = (buf.size() - pos) / Width;
    const qsizetype first = std::max<qsizetype>(0, (since - pos) / Width - 1);
    for (qsizetype k = n - 1; k >= first; --k) {
        const char16_t c = units(k);
        if (c == u'\n' || (c == u'\r' && k + 1 < n)) return pos + (k + 1) * Width;
    }
    return -1;
}

qsizetype lastLineEnd(Encoding enc, const QByteArray &buf, qsizetype pos, qsizetype since)
{
    switch (enc) {
    case Encoding::Utf16LE: return lastLineEnd<2, false>(buf, pos, since);
    case Encoding::Utf16BE: return lastLineEnd<2, true>(buf, pos, since);
    default: break;
    }
    // Bytes: any line end will do, the last LF or else a CR with a byte after it.
    const qsizetype from = std::max<qsizetype>(pos, since - 1);
    const char *p = buf.constData();
    if (from >= buf.size()) return -1;
    if (const void *lf = ::memrchr(p + from, '\n', std::size_t(buf.size() - from)))
        return static_cast<const char *>(lf) - p + 1;
    if (buf.size() - 1 > from)
        if (const void *cr = ::memrchr(p + from, '\r', std::size_t(buf.size() - 1 - from)))
            return static_cast<const char *>(cr) - p + 1;
    return -1;
}

// Walks the lines of a file as decodeLines cuts them, reading it piece by piece, so that no
// more than a piece and the longest line is held at once: line(bytes) gets each line's bytes,
// its end not included, and may end the walk by returning false. enc is set by the file's mark
// before the first line. A file larger than MaxTextFileSize, also one that grows past it while
// it is read, is refused (223) with a notice of its own. Returns the error number.
template <class Line> int walkFileLines(const QString &path, Encoding &enc, Line line)
{
    enc = Encoding::Ansi;
    FileHandle h;
    if (int err = openFile(path, OpenMode::Read, h)) return err;
    std::int64_t total = 0;
    int err = fileSize(h, total);
    if (!err) err = checkTextFileSize(path, total);
    total = 0;
    constexpr int piece = 1 << 18;
    QByteArray buf;
    qsizetype pos = -1; // where the next line begins; -1 until the mark is known
    bool going = true;
    const auto each = [&](QByteArrayView bytes) { return going = going && line(bytes); };
    while (!err && going) {
        const qsizetype before = buf.size();
        buf.resize(before + piece);
        int got = 0;
        err = readFile(h, buf.data() + before, piece, got);
        buf.resize(before + (err ? 0 : got));
        total += got;
        if (!err && total > MaxTextFileSize) err = checkTextFileSize(path, total);
        if (err) break;
        const bool end = got == 0;
        if (pos < 0) {
            if (buf.size() < 3 && !end) continue; // a mark may need more bytes yet
            enc = encodingOf(buf);
            pos = markSize(enc);
        }
        const qsizetype cut = end ? buf.size() : lastLineEnd(enc, buf, pos, std::max(pos, before));
        if (cut > pos) {
            walkUnits(QByteArrayView(buf).sliced(pos, cut - pos), enc, each);
            pos = cut;
        }
        if (end) break;
        buf.remove(0, pos);
        pos = 0;
    }
    closeFile(h);
    return err;
}

} // namespace

namespace {

// Whether a line's bytes may decode to a letter beyond the first 256: in the code page, one of
// the bytes 0x80-0x9F (most are letters beyond); in UTF-8, anything but a two-byte letter of
// 0xC2 or 0xC3 (a broken one becomes a replacement character); in UTF-16, a high byte.
bool mayPassLatin1(QByteArrayView b, Encoding enc)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(b[i]); };
    switch (enc) {
    case Encoding::Ansi:
        return std::any_of(b.begin(), b.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) < 0xA0;
        });
    case Encoding::Utf8:
        for (qsizetype i = 0; i < b.size(); ++i) {
            if (byte(i) < 0x80) continue;
            if ((byte(i) == 0xC2 || byte(i) == 0xC3) && i + 1 < b.size() &&
                (byte(i + 1) & 0xC0) == 0x80) {
                ++i;
                continue;
            }
            return true;
        }
        return false;
    case Encoding::Utf16LE:
    case Encoding::Utf16BE: {
        if (b.size() % 2) return true;
        const qsizetype high = enc == Encoding::Utf16LE ? 1 : 0;
        for (qsizetype i = high; i < b.size(); i += 2)
            if (byte(i)) return true;
        return false;
    }
    }
    return true;
}

} // namespace

int walkLines(const QString &path, Encoding &enc, qsizetype maxLines,
              const std::function<void(const LineCount &)> &counted,
              const std::function<void(QString line)> &line)
{
    // A line costs more than its bytes once it is decoded, so the lines are counted first: a
    // file of too many is refused at the cost of reading it, and the caller takes its room once.
    if (maxLines >= 0 || counted) {
        LineCount count;
        if (int err = walkFileLines(path, enc, [&](QByteArrayView b) {
                count.bytes += b.size();
                if (counted && count.latin1 && mayPassLatin1(b, enc)) count.latin1 = false;
                return ++count.lines <= maxLines || maxLines < 0;
            })) {
            enc = Encoding::Ansi;
            return err;
        }
        if (maxLines >= 0 && count.lines > maxLines) {
            enc = Encoding::Ansi;
            return ErrTooManyLines;
        }
        if (counted) counted(count);
    }
    std::optional<LineDecoder> decode;
    qsizetype made = 0;
    bool tooMany = false;
    const int err = walkFileLines(path, enc, [&](QByteArrayView bytes) {
        // The file may have grown since it was counted.
        if (maxLines >= 0 && made >= maxLines) return !(tooMany = true);
        if (!decode) decode.emplace(enc);
        ++made;
        line((*decode)(bytes));
        return true;
    });
    if (err || tooMany) {
        enc = Encoding::Ansi;
        return err ? err : ErrTooManyLines;
    }
    return NoError;
}

int readLines(const QString &path, QStringList &lines, Encoding &enc, qsizetype maxLines)
{
    lines.clear();
    QStringList out;
    std::function<void(const LineCount &)> counted;
    if (maxLines >= 0)
        counted = [&](const LineCount &count) {
            // Room to grow toward the limit, taken now while nothing is in it: a caller that
            // adds to the lines later does not move them all at its first line.
            out.reserve(std::min(maxLines, count.lines + count.lines / 2));
        };
    const int err =
        walkLines(path, enc, maxLines, counted, [&](QString line) { out.append(std::move(line)); });
    if (!err) lines = std::move(out);
    return err;
}

namespace {

int writeWhole(const QString &path, const QByteArray &bytes, int mode)
{
    FileHandle h;
    if (int err = openFile(path, OpenMode::Rewrite, h)) return err;
    int err = mode == KeepMode || ::fchmod(int(h), mode_t(mode)) == 0 ? NoError
                                                                      : winErrorFromErrno(errno);
    if (!err) err = writeFile(h, bytes.constData(), int(bytes.size()));
    const int closeErr = closeFile(h);
    return err ? err : closeErr;
}

// Where no temporary file can be made, the file itself is rewritten, but only once the new bytes
// are sure to fit: the room for all of them is reserved before the first old byte is given up,
// nothing is truncated first, every byte written is checked, and the file is cut to its new
// length only at the end. Where the room cannot be had (a full disk), the file stays as it was.
int rewriteInPlace(const QString &path, const QByteArray &bytes, int mode)
{
    FileHandle h;
    if (int err = openFile(path, OpenMode::ReadWrite, h)) return err;
    const int fd = int(h);
    int err = NoError;
    struct stat st {};
    if (::fstat(fd, &st) != 0) err = winErrorFromErrno(errno);
    if (!err && mode != KeepMode && ::fchmod(fd, mode_t(mode)) != 0) err = winErrorFromErrno(errno);
    if (!err && !bytes.isEmpty() &&
        ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(bytes.size())) != 0) {
        // Without reservations, the blocks the file has already are all that is sure.
        const int e = errno;
        const bool unsupported = e == EOPNOTSUPP || e == ENOSYS;
        if (!unsupported || bytes.size() > st.st_size)
            err = winErrorFromErrno(unsupported ? ENOSPC : e);
    }
    if (!err) err = writeFile(h, bytes.constData(), int(bytes.size()));
    if (!err && ::ftruncate(fd, off_t(bytes.size())) != 0) err = winErrorFromErrno(errno);
    if (!err && ::fsync(fd) != 0) err = winErrorFromErrno(errno);
    const int closeErr = closeFile(h);
    return err ? err : closeErr;
}

// The file a replace lands on: through a link to its target, so that the link stays a link. A
// link whose target is not there yet is followed all the same: the new file goes where the link
// points (or fails there), and the link is never replaced by a file in its own folder.
QByteArray replaceTarget(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty()) return QFile::encodeName(canonical);
    QString at = path;
    for (int links = 0; links < 40 && QFileInfo(at).isSymLink(); ++links)
        at = QFileInfo(at).symLinkTarget();
    return QFile::encodeName(at);
}

constexpr char TemporaryMark[] = ".tmp-";
constexpr int RandomChars = 6;
constexpr char RandomAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::function<void(ReplaceStep)> replaceSeam;
bool unnamedAllowed = true;

// Taken while the program loads: what is older than this was left by an earlier run.
const std::int64_t processStart = QDateTime::currentMSecsSinceEpoch();

void step(ReplaceStep s)
{
    if (replaceSeam) replaceSeam(s);
}

// The temporaries' names beside target begin so: the file's own name and ".tmp-", the name cut
// first where six more characters would pass the longest name a folder takes, and never inside
// a character.
QByteArray temporaryPrefix(const QByteArray &target)
{
    const qsizetype slash = target.lastIndexOf('/');
    QByteArray name = target.mid(slash + 1);
    constexpr qsizetype room = NAME_MAX - (sizeof TemporaryMark - 1) - RandomChars;
    if (name.size() > room) {
        qsizetype cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.truncate(cut);
    }
    return target.left(slash + 1) + name + TemporaryMark;
}

QByteArray randomName(const QByteArray &prefix)
{
    QByteArray name = prefix;
    for (int i = 0; i < RandomChars; ++i)
        name += RandomAlphabet[QRandomGenerator::global()->bounded(int(sizeof RandomAlphabet - 1))];
    return name;
}

bool isTemporaryName(QByteArrayView name, QByteArrayView prefix)
{
    if (name.size() != prefix.size() + RandomChars || !name.startsWith(prefix)) return false;
    return std::all_of(name.begin() + prefix.size(), name.end(), [](char c) {
        return std::memchr(RandomAlphabet, c, sizeof RandomAlphabet - 1) != nullptr;
    });
}

QByteArray folderOf(const QByteArray &target)
{
    const qsizetype slash = target.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash);
}

// A file in folder without a name, or -1 with errno (EOPNOTSUPP or EISDIR where the file system
// has no such files).
int openUnnamed(const QByteArray &folder)
{
    if (!unnamedAllowed) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
}

// Gives the file without a name its first one; fails with EEXIST where that name is taken. A
// process without /proc names it through its handle, as far as it is allowed to.
int linkUnnamed(int fd, const QByteArray &name)
{
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, proc.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno == EEXIST) return -1;
    return ::linkat(fd, "", AT_FDCWD, name.constData(), AT_EMPTY_PATH);
}

// Puts the complete file without a name in target's place. A name that is free is taken at
// once; an existing file can only be replaced whole by a rename, so the new file gets a name of
// its own first, for as long as the rename takes. Returns errno, 0 on success.
int placeUnnamed(int fd, const QByteArray &target, bool existed)
{
    if (!existed) {
        if (linkUnnamed(fd, target) == 0) return 0;
        if (errno != EEXIST) return errno;
    }
    QByteArray name;
    const QByteArray prefix = temporaryPrefix(target);
    for (int tries = 0;; ++tries) {
        name = randomName(prefix);
        if (linkUnnamed(fd, name) == 0) break;
        if (errno != EEXIST || tries == 100) return errno;
    }
    step(ReplaceStep::Placing);
    if (::rename(name.constData(), target.constData()) == 0) return 0;
    const int e = errno;
    ::unlink(name.constData());
    return e;
}

// The bytes into a temporary beside target, with owner, group and mode as the file will have
// them. fd is the temporary's handle; name stays empty for one that has no name.
int writeTemporary(const QByteArray &target, const QByteArray &bytes, const struct stat *old,
                   mode_t mode, int &fd, QByteArray &name)
{
    name.clear();
    fd = openUnnamed(folderOf(target));
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) {
        name = temporaryPrefix(target) + QByteArray(RandomChars, 'X');
        fd = ::mkostemp(name.data(), O_CLOEXEC);
    }
    if (fd < 0) return errno;
    int err = writeFile(fd, bytes.constData(), int(bytes.size()));
    // Owner and group are kept where the process may set them (root rewriting another user's
    // file), and not being allowed to is no failure. The mode is set after them, since a change
    // of owner clears the set-id bits. Until then the temporary is its owner's alone.
    if (!err && old) {
        [[maybe_unused]] const int owned = ::fchown(fd, old->st_uid, old->st_gid);
    }
    if (!err && ::fchmod(fd, mode) != 0) err = winErrorFromErrno(errno);
    if (!err && ::fsync(fd) != 0) err = winErrorFromErrno(errno);
    return err;
}

} // namespace

void setReplaceSeam(std::function<void(ReplaceStep)> seam) { replaceSeam = std::move(seam); }

void setUnnamedTemporaries(bool allowed) { unnamedAllowed = allowed; }

void removeStaleTemporaries(const QString &file, const QDateTime &before)
{
    const std::int64_t limit = before.isValid() ? before.toMSecsSinceEpoch() : processStart;
    const QByteArray prefix = temporaryPrefix(replaceTarget(file));
    const QByteArray namePrefix = prefix.mid(prefix.lastIndexOf('/') + 1);
    // By the folder's handle, and nothing behind a link: a name swapped meanwhile is at most
    // a name removed, never a file elsewhere.
    const int dirfd = ::open(folderOf(prefix).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd < 0) return;
    DIR *dir = ::fdopendir(::dup(dirfd));
    while (dir) {
        const dirent *entry = ::readdir(dir);
        if (!entry) break;
        if (!isTemporaryName(entry->d_name, namePrefix)) continue;
        struct stat st {};
        if (::fstatat(dirfd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const std::int64_t changed =
            std::int64_t(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1 && changed < limit)
            ::unlinkat(dirfd, entry->d_name, 0);
    }
    if (dir) ::closedir(dir);
    ::close(dirfd);
}

int writeLines(const QString &path, const QStringList &lines, Encoding enc, bool atomic, int mode)
{
    const QByteArray bytes = encodeLines(lines, writableEncoding(lines, enc));
    return atomic ? replaceFile(path, bytes, mode) : writeWhole(path, bytes, mode);
}

int replaceFile(const QString &path, const QByteArray &bytes, int mode)
{
    if (fileExists(path) && isReadOnly(path)) return ErrAccessDenied;
    const QByteArray target = replaceTarget(path);
    struct stat old {};
    const bool existed = ::stat(target.constData(), &old) == 0;
    // Only a name that is free may be taken; a loop of links, for one, is not.
    if (!existed && errno != ENOENT) return winErrorFromErrno(errno);
    // A pipe or a device in the file's place is not replaced by a file: the name is the user's.
    if (existed && !S_ISREG(old.st_mode)) return ErrAccessDenied;
    removeStaleTemporaries(QFile::decodeName(target));

    // The file may hold scrambled passwords: it keeps the old file's permissions where no mode
    // is asked for, not those of the temporary.
    const mode_t finalMode = mode != KeepMode ? mode_t(mode)
                             : existed        ? old.st_mode & 07777
                                              : newFileMode();
    int fd = -1;
    QByteArray temp;
    int err = writeTemporary(target, bytes, existed ? &old : nullptr, finalMode, fd, temp);
    if (fd < 0) {
        // A folder that takes no new file still lets an existing file be rewritten, though not
        // atomically.
        if (existed) return rewriteInPlace(QFile::decodeName(target), bytes, mode);
        return err == ENOENT ? ErrPathNotFound : winErrorFromErrno(err);
    }
    if (!err) step(ReplaceStep::Written);
    const bool unnamed = temp.isEmpty();
    // A named temporary is closed before it is placed, so that a failing close (a full network
    // disk, say) still leaves the old file; one without a name needs its handle to get one.
    if (!unnamed && ::close(fd) != 0 && !err) err = winErrorFromErrno(errno);
    // Checked again just before the rename: the mark may have been set meanwhile.
    if (!err && fileExists(path) && isReadOnly(path)) err = ErrAccessDenied;
    if (!err && unnamed) {
        if (const int e = placeUnnamed(fd, target, existed)) err = winErrorFromErrno(e);
    } else if (!err) {
        step(ReplaceStep::Placing);
        if (::rename(temp.constData(), target.constData()) != 0) err = winErrorFromErrno(errno);
    }
    if (unnamed) ::close(fd);
    if (err && !unnamed) ::unlink(temp.constData());
    return err;
}

} // namespace platform
