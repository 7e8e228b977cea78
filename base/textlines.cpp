// textlines: a whole text file as a list of lines: its decoding and encoding, and its
// reading and writing in one piece, the write replacing the file whole where asked.
#include "textlines.h"

#include "codepage.h"
#include "environment.h"
#include "errors.h"
#include "files.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

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
    QString out(bytes.size() / 2, Qt::Uninitialized);
    QChar *d = out.data();
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        d[i / 2] = QChar(char16_t(bigEndian ? (a << 8) | b : (b << 8) | a));
    }
    if (bytes.size() % 2) out.append(QChar::ReplacementCharacter);
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

QStringList decodeLines(QByteArrayView data, Encoding &enc)
{
    // The mark has been taken off already; a second one is text of the first line. Stateless, so
    // that a character cut off at the end of the file becomes a replacement character instead of
    // vanishing with the rest of its line.
    constexpr auto flags =
        QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless;
    QString text;
    if (data.startsWith("\xEF\xBB\xBF")) {
        enc = Encoding::Utf8;
        text = QStringDecoder(QStringDecoder::Utf8, flags).decode(data.sliced(3));
    } else if (data.startsWith("\xFF\xFE")) {
        enc = Encoding::Utf16LE;
        text = fromUtf16Units(data.sliced(2), false);
    } else if (data.startsWith("\xFE\xFF")) {
        enc = Encoding::Utf16BE;
        text = fromUtf16Units(data.sliced(2), true);
    } else {
        // Each line straight from the bytes, without the whole text in between: the code page
        // gives one character a byte, so the line ends are where the bytes say.
        enc = Encoding::Ansi;
        QStringList lines;
        forEachLine(data.size(), Units<1, false>{data.data(), data.size()},
                    [&](qsizetype start, qsizetype length) {
                        lines.append(fromAnsi(data.sliced(start, length)));
                        return true;
                    });
        return lines;
    }
    QStringList lines;
    forEachLine(
        text.size(), [&text](qsizetype i) { return text[i].unicode(); },
        [&](qsizetype start, qsizetype length) {
            lines.append(text.sliced(start, length));
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
    if (!err && size <= MaxTextFileSize) data.reserve(qsizetype(size));
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

int readLines(const QString &path, QStringList &lines, Encoding &enc, qsizetype maxLines)
{
    lines.clear();
    enc = Encoding::Ansi;
    QByteArray data;
    if (int err = readBytes(path, data)) return err;
    // A line costs many times its bytes once it is a string of its own, so the count comes
    // first: a file of little but line ends is refused at the cost of reading it.
    // No file has more lines than CR and LF bytes and one; only where that passes the limit (a
    // hostile file, as a rule) do the line ends need the closer count.
    if (maxLines >= 0 &&
        std::count(data.cbegin(), data.cend(), '\n') +
                std::count(data.cbegin(), data.cend(), '\r') >=
            maxLines &&
        countLines(data, maxLines) > maxLines)
        return ErrTooManyLines;
    lines = decodeLines(data, enc);
    return NoError;
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
