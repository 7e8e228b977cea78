// The one place where Windows and Linux differ: code page, raw files, error numbers,
// environment, path separators, and the seam through which the base library talks to the user.
#include "platform.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

int winErrorFromErrno(int e)
{
    switch (e) {
    case 0: return NoError;
    case ENOENT: return ErrFileNotFound;
    case ENOTDIR: return ErrPathNotFound;
    case EMFILE:
    case ENFILE: return ErrTooManyFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return ErrAccessDenied;
    case EBADF: return ErrInvalidHandle;
    case ENOMEM: return ErrNotEnoughMemory;
    case EWOULDBLOCK: return ErrSharingViolation;
    case EINVAL: return ErrInvalidParameter;
    case ENOSPC:
    case EDQUOT: return ErrDiskFull;
    case EILSEQ: return ErrInvalidName;
    case ENOTEMPTY: return ErrDirNotEmpty;
    case EEXIST: return ErrAlreadyExists;
    case ENAMETOOLONG: return ErrFilenameTooLong;
    case EIO: return ErrWriteFault;
    default: return ErrAccessDenied;
    }
}

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
    for (qsizetype i = 0; i < bytes.size(); ++i) d[i] = ansiChar(static_cast<unsigned char>(bytes[i]));
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
    forEachLine(data.size() / Width, units, [&](qsizetype, qsizetype) { return ++lines <= limit || limit < 0; });
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
    // The mark has been taken off already; a second one is text of the first line.
    constexpr auto keepBom = QStringConverter::Flag::ConvertInitialBom;
    QString text;
    if (data.startsWith("\xEF\xBB\xBF")) {
        enc = Encoding::Utf8;
        text = QStringDecoder(QStringDecoder::Utf8, keepBom).decode(data.sliced(3));
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
        forEachLine(data.size(), Units<1, false>{data.data(), data.size()}, [&](qsizetype start, qsizetype length) {
            lines.append(fromAnsi(data.sliced(start, length)));
            return true;
        });
        return lines;
    }
    QStringList lines;
    forEachLine(text.size(), [&text](qsizetype i) { return text[i].unicode(); }, [&](qsizetype start, qsizetype length) {
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
        std::count(data.cbegin(), data.cend(), '\n') + std::count(data.cbegin(), data.cend(), '\r') >= maxLines &&
        countLines(data, maxLines) > maxLines)
        return ErrTooManyLines;
    lines = decodeLines(data, enc);
    return NoError;
}

namespace {

int writeWhole(const QString &path, const QByteArray &bytes)
{
    FileHandle h;
    if (int err = openFile(path, OpenMode::Rewrite, h)) return err;
    const int err = writeFile(h, bytes.constData(), int(bytes.size()));
    const int closeErr = closeFile(h);
    return err ? err : closeErr;
}

// Where no temporary file can be made, the file itself is rewritten, but only once the new bytes
// are sure to fit: the room for all of them is reserved before the first old byte is given up,
// nothing is truncated first, every byte written is checked, and the file is cut to its new
// length only at the end. Where the room cannot be had (a full disk), the file stays as it was.
int rewriteInPlace(const QString &path, const QByteArray &bytes)
{
    FileHandle h;
    if (int err = openFile(path, OpenMode::ReadWrite, h)) return err;
    const int fd = int(h);
    int err = NoError;
    struct stat st {};
    if (::fstat(fd, &st) != 0) err = winErrorFromErrno(errno);
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

// The mode a plain create would give, as open() with 0666 does.
mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

int writeLines(const QString &path, const QStringList &lines, Encoding enc, bool atomic)
{
    const QByteArray bytes = encodeLines(lines, writableEncoding(lines, enc));
    if (!atomic) return writeWhole(path, bytes);

    if (fileExists(path) && isReadOnly(path)) return ErrAccessDenied;
    const QByteArray target = replaceTarget(path);
    struct stat old {};
    const bool existed = ::stat(target.constData(), &old) == 0;
    // Only a name that is free may be taken; a loop of links, for one, is not.
    if (!existed && errno != ENOENT) return winErrorFromErrno(errno);
    // A pipe or a device in the file's place is not replaced by a file: the name is the user's.
    if (existed && !S_ISREG(old.st_mode)) return ErrAccessDenied;

    // A name of its own, so that two programs replacing the same file never share a temporary.
    QByteArray temp = target + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        // A folder that takes no new file still lets an existing file be rewritten, though not
        // atomically.
        if (existed) return rewriteInPlace(QFile::decodeName(target), bytes);
        return e == ENOENT ? ErrPathNotFound : winErrorFromErrno(e);
    }
    int err = writeFile(fd, bytes.constData(), int(bytes.size()));
    if (!err && existed) {
        // Owner and group are kept where the process may set them (root rewriting another
        // user's file), and not being allowed to is no failure. The mode is set after them,
        // since a change of owner clears the set-id bits.
        [[maybe_unused]] const int owned = ::fchown(fd, old.st_uid, old.st_gid);
    }
    // The file may hold scrambled passwords: it keeps the old file's permissions, not mkstemp's.
    if (!err && ::fchmod(fd, existed ? old.st_mode & 07777 : newFileMode()) != 0)
        err = winErrorFromErrno(errno);
    if (!err && ::fsync(fd) != 0) err = winErrorFromErrno(errno);
    if (::close(fd) != 0 && !err) err = winErrorFromErrno(errno);
    // Checked again just before the rename: the mark may have been set meanwhile.
    if (!err && fileExists(path) && isReadOnly(path)) err = ErrAccessDenied;
    if (!err && ::rename(temp.constData(), target.constData()) != 0) err = winErrorFromErrno(errno);
    if (err) ::unlink(temp.constData());
    return err;
}

// ---- Raw files ----

namespace {

QByteArray nativeBytes(const QString &path) { return QFile::encodeName(path); }

bool readOnlyMode(mode_t mode) { return (mode & S_IWUSR) == 0; }

} // namespace

int openFile(const QString &path, OpenMode mode, FileHandle &handle)
{
    handle = NoFile;
    if (path.isEmpty()) return ErrFileNotFound;
    const QByteArray name = nativeBytes(path);
    int flags = O_CLOEXEC;
    switch (mode) {
    case OpenMode::Read: flags |= O_RDONLY; break;
    case OpenMode::Rewrite:
    case OpenMode::RewritePrivate: flags |= O_WRONLY | O_CREAT; break;
    case OpenMode::Append:
    case OpenMode::ReadWrite: flags |= O_RDWR; break;
    }
    // Windows refuses write access to a file with the read-only mark, even to an administrator.
    // Anything but a regular file is refused before it is opened, since opening a device may
    // already do something.
    struct stat st {};
    if (::stat(name.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return ErrAccessDenied;
        if (mode != OpenMode::Read && readOnlyMode(st.st_mode)) return ErrAccessDenied;
    }
    // Without blocking: a pipe put in the file's place since the look above must not hold the
    // program until something opens its other end.
    const int fd = ::open(name.constData(), flags | O_NONBLOCK,
                          mode == OpenMode::RewritePrivate ? 0600 : 0666);
    if (fd < 0) {
        // Windows tells a missing folder from a missing file.
        if (errno == ENOENT) {
            const QString parent = QFileInfo(path).absolutePath();
            if (!QFileInfo(parent).isDir()) return ErrPathNotFound;
        }
        return winErrorFromErrno(errno);
    }
    // What was opened counts, not what the name held a moment before.
    struct stat opened {};
    const int fl = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || fl < 0 ||
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return ErrAccessDenied;
    }
    // Sharing: readers share, anything that writes excludes (the other modes let others read
    // only, so a writer conflicts with every other open); a conflict is Windows' sharing
    // violation. The lock is advisory: it holds against this program and others that honour it.
    const int op = (mode == OpenMode::Read ? LOCK_SH : LOCK_EX) | LOCK_NB;
    if (::flock(fd, op) != 0) {
        ::close(fd);
        return ErrSharingViolation;
    }
    // A file left from before keeps its mode through an open; the old bytes go only after
    // nobody else can read what follows them.
    if (mode == OpenMode::RewritePrivate && ::fchmod(fd, 0600) != 0) {
        const int err = winErrorFromErrno(errno);
        ::close(fd);
        return err;
    }
    if ((mode == OpenMode::Rewrite || mode == OpenMode::RewritePrivate) &&
        ::ftruncate(fd, 0) != 0) {
        const int err = winErrorFromErrno(errno);
        ::close(fd);
        return err;
    }
    if (mode == OpenMode::Append && ::lseek(fd, 0, SEEK_END) < 0) {
        const int err = winErrorFromErrno(errno);
        ::close(fd);
        return err;
    }
    handle = fd;
    return NoError;
}

int readFile(FileHandle handle, char *buffer, int size, int &got)
{
    got = 0;
    if (handle == NoFile) return ErrInvalidHandle;
    for (;;) {
        const ssize_t n = ::read(int(handle), buffer, size_t(size));
        if (n >= 0) {
            got = int(n);
            return NoError;
        }
        if (errno != EINTR) return errno == EIO ? ErrReadFault : winErrorFromErrno(errno);
    }
}

int writeFile(FileHandle handle, const char *buffer, int size)
{
    if (handle == NoFile) return ErrInvalidHandle;
    while (size > 0) {
        const ssize_t n = ::write(int(handle), buffer, size_t(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            return winErrorFromErrno(errno);
        }
        buffer += n;
        size -= int(n);
    }
    return NoError;
}

int fileSize(FileHandle handle, std::int64_t &size)
{
    struct stat st {};
    if (handle == NoFile || ::fstat(int(handle), &st) != 0) return ErrInvalidHandle;
    size = st.st_size;
    return NoError;
}

int closeFile(FileHandle handle)
{
    if (handle == NoFile) return ErrInvalidHandle;
    return ::close(int(handle)) == 0 ? NoError : winErrorFromErrno(errno);
}

// ---- File system ----

bool fileExists(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(nativeBytes(path).constData(), &st) == 0 &&
           !S_ISDIR(st.st_mode);
}

bool dirExists(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(nativeBytes(path).constData(), &st) == 0 &&
           S_ISDIR(st.st_mode);
}

bool isLink(const QString &path)
{
    struct stat st {};
    return ::lstat(nativeBytes(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool isReadOnly(const QString &path)
{
    struct stat st {};
    return ::stat(nativeBytes(path).constData(), &st) == 0 && readOnlyMode(st.st_mode);
}

int setReadOnly(const QString &path, bool readOnly)
{
    struct stat st {};
    const QByteArray name = nativeBytes(path);
    if (::stat(name.constData(), &st) != 0) return winErrorFromErrno(errno);
    // The mark is the owner's write bit; clearing it gives no one else a right to write.
    const mode_t mode = readOnly ? (st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH))
                                 : (st.st_mode | S_IWUSR);
    return ::chmod(name.constData(), mode & 07777) == 0 ? NoError : winErrorFromErrno(errno);
}

int makeDir(const QString &path, bool ownerOnly)
{
    if (::mkdir(nativeBytes(path).constData(), ownerOnly ? 0700 : 0777) == 0) return NoError;
    if (errno == ENOENT) return ErrPathNotFound;
    return winErrorFromErrno(errno);
}

int makePath(const QString &path, bool ownerOnly)
{
    const QString folder = QDir::cleanPath(path);
    if (dirExists(folder)) return NoError;
    const qsizetype cut = folder.lastIndexOf(QLatin1Char('/'));
    if (cut > 0) {
        if (const int err = makePath(folder.left(cut))) return err;
    }
    const int err = makeDir(folder, ownerOnly);
    // Another process may have made it meanwhile.
    return err == ErrAlreadyExists && dirExists(folder) ? NoError : err;
}

namespace {

// Windows will neither delete nor rename a file that is open; here "open" means held through
// openFile, whose lock a probe for an exclusive one runs into.
bool heldOpen(const QByteArray &name, const struct stat &st)
{
    if (!S_ISREG(st.st_mode)) return false;
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

int unlinkFile(const QString &path, bool evenReadOnly)
{
    const QByteArray name = nativeBytes(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) return winErrorFromErrno(errno);
    if (S_ISDIR(st.st_mode)) return ErrAccessDenied;
    if (!evenReadOnly && !S_ISLNK(st.st_mode) && readOnlyMode(st.st_mode)) return ErrAccessDenied;
    if (heldOpen(name, st)) return ErrSharingViolation;
    return ::unlink(name.constData()) == 0 ? NoError : winErrorFromErrno(errno);
}

} // namespace

int removeFile(const QString &path) { return unlinkFile(path, false); }

int removeName(const QString &path) { return unlinkFile(path, true); }

int renameFile(const QString &from, const QString &to)
{
    const QByteArray source = nativeBytes(from);
    const QByteArray target = nativeBytes(to);
    struct stat st {};
    if (::lstat(source.constData(), &st) != 0) return winErrorFromErrno(errno);
    if (heldOpen(source, st)) return ErrSharingViolation;
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(),
                    RENAME_NOREPLACE) == 0)
        return NoError;
    if (errno != EINVAL && errno != ENOSYS) return winErrorFromErrno(errno);
    // A file system without the flag: a second name, then the first one goes. The new name is
    // never taken from anything else, as link refuses a name that exists.
    if (::link(source.constData(), target.constData()) != 0) return winErrorFromErrno(errno);
    if (::unlink(source.constData()) != 0) {
        const int err = errno;
        ::unlink(target.constData());
        return winErrorFromErrno(err);
    }
    return NoError;
}

int setModeLike(const QString &path, const QString &model)
{
    struct stat st {};
    mode_t mode = 0;
    if (::stat(nativeBytes(model).constData(), &st) == 0)
        mode = st.st_mode & 0777;
    else if (errno == ENOENT)
        mode = newFileMode();
    else
        return winErrorFromErrno(errno);
    return ::chmod(nativeBytes(path).constData(), mode) == 0 ? NoError : winErrorFromErrno(errno);
}

int removeDir(const QString &path)
{
    const QByteArray name = nativeBytes(path);
    if (isLink(path)) return ::unlink(name.constData()) == 0 ? NoError : winErrorFromErrno(errno);
    return ::rmdir(name.constData()) == 0 ? NoError : winErrorFromErrno(errno);
}

// ---- Environment and program ----

QString env(const QString &name) { return qEnvironmentVariable(name.toLocal8Bit().constData()); }

QString programFilePath()
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return QCoreApplication::applicationFilePath();
    return QFile::decodeName(QByteArray(buffer, n));
}

QString appDataFolder()
{
    QString folder = env(QStringLiteral("APPDATA"));
    if (folder.isEmpty()) folder = env(QStringLiteral("XDG_DATA_HOME"));
    if (folder.isEmpty()) folder = QDir::homePath() + QStringLiteral("/.local/share");
    while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    return folder;
}

QChar separator() { return u'/'; }

QString nativeName(const QString &name)
{
    QString out = name;
    out.replace(u'\\', u'/');
    return out;
}

namespace {
std::function<void(const QString &)> &noticeSink()
{
    static std::function<void(const QString &)> sink;
    return sink;
}
} // namespace

void notice(const QString &line)
{
    if (noticeSink()) noticeSink()(line);
}

void setNoticeSink(std::function<void(const QString &)> sink) { noticeSink() = std::move(sink); }

namespace {
std::function<QDateTime()> &clock()
{
    static std::function<QDateTime()> c;
    return c;
}
} // namespace

QDateTime now() { return clock() ? clock()() : QDateTime::currentDateTime(); }

void setClock(std::function<QDateTime()> c) { clock() = std::move(c); }

// ---- Requests to end from outside ----

namespace {

// The signal handler may do next to nothing safely: it only writes a byte into a pipe, whose
// other end the message loop watches.
int endPipe[2] = {-1, -1};

extern "C" void onEndSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a request; losing this one loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(endPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void onEndRequest(std::function<void()> handler)
{
    if (endPipe[0] >= 0 || ::pipe2(endPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto *notifier = new QSocketNotifier(endPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [handler = std::move(handler)] {
                         char bytes[64];
                         while (::read(endPipe[0], bytes, sizeof bytes) > 0) {
                         }
                         handler();
                     });
    struct sigaction action {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signal, &action, nullptr);
}

// ---- User interface ----

namespace {

class StderrUserInterface final : public UserInterface {
  public:
    void message(const QString &caption, const QString &text, Icon) override
    {
        std::fprintf(stderr, "[%s] %s\n", caption.toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
    }
    void setBusyCursor(bool) override {}
    void shellOpen(const QString &, const QString &, const QString &) override {}
};

class WidgetsUserInterface final : public UserInterface {
  public:
    void message(const QString &caption, const QString &text, Icon icon) override
    {
        QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::NoIcon, caption,
                        text, QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    }
    void setBusyCursor(bool busy) override
    {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    }
    void shellOpen(const QString &file, const QString &, const QString &) override
    {
        const QUrl url = file.contains(QStringLiteral("://")) ? QUrl(file)
                                                              : QUrl::fromLocalFile(file);
        QDesktopServices::openUrl(url);
    }
};

UserInterface *&current()
{
    static StderrUserInterface fallback;
    static UserInterface *ui = &fallback;
    return ui;
}

} // namespace

UserInterface &ui() { return *current(); }

void setUserInterface(UserInterface *u)
{
    static StderrUserInterface fallback;
    current() = u ? u : &fallback;
}

void installWidgetsUserInterface()
{
    static WidgetsUserInterface widgets;
    setUserInterface(&widgets);
}

} // namespace platform
