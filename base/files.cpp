// files: raw file handles and the file system, with Windows semantics for sharing and for
// the read-only mark.
#include "files.h"

#include "errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>

#include <dirent.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

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
    case OpenMode::Rewrite: flags |= O_WRONLY | O_CREAT; break;
    // Not through a link: the bytes and the closed mode are for this name's file alone, and a
    // link could take both to a file anywhere.
    case OpenMode::RewritePrivate: flags |= O_WRONLY | O_CREAT | O_NOFOLLOW; break;
    case OpenMode::CreatePrivate: flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW; break;
    case OpenMode::Append:
    case OpenMode::ReadWrite: flags |= O_RDWR; break;
    }
    // Windows refuses write access to a file with the read-only mark, even to an administrator.
    // Anything but a regular file is refused before it is opened, since opening a device may
    // already do something. A new file opens nothing that exists.
    struct stat st {};
    if (mode != OpenMode::CreatePrivate && ::stat(name.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return ErrAccessDenied;
        if (mode != OpenMode::Read && readOnlyMode(st.st_mode)) return ErrAccessDenied;
    }
    // Without blocking: a pipe put in the file's place since the look above must not hold the
    // program until something opens its other end.
    const int fd =
        ::open(name.constData(), flags | O_NONBLOCK,
               mode == OpenMode::RewritePrivate || mode == OpenMode::CreatePrivate ? 0600 : 0666);
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
    if (mode == OpenMode::CreatePrivate) {
        // The umask may have closed it further; the owner must be able to write it.
        if (::fchmod(fd, 0600) != 0) {
            const int err = winErrorFromErrno(errno);
            ::close(fd);
            return err;
        }
        handle = fd;
        return NoError;
    }
    // Sharing: readers share, anything that writes excludes (the other modes let others read
    // only, so a writer conflicts with every other open); a conflict is Windows' sharing
    // violation. The lock is advisory: it holds against this program and others that honour it.
    const int op = (mode == OpenMode::Read ? LOCK_SH : LOCK_EX) | LOCK_NB;
    if (::flock(fd, op) != 0) {
        ::close(fd);
        return ErrSharingViolation;
    }
    // A second name of the file is a link as much as a symbolic one: the bytes and the closed
    // mode would reach the file under its other names too, wherever they are.
    if (mode == OpenMode::RewritePrivate && opened.st_nlink > 1) {
        ::close(fd);
        return ErrAccessDenied;
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

int setFileMode(FileHandle handle, unsigned mode)
{
    if (handle == NoFile) return ErrInvalidHandle;
    return ::fchmod(int(handle), mode_t(mode & 0777)) == 0 ? NoError : winErrorFromErrno(errno);
}

bool isSoleName(const QString &path, FileHandle handle)
{
    struct stat named {};
    struct stat opened {};
    return handle != NoFile && ::lstat(nativeBytes(path).constData(), &named) == 0 &&
           ::fstat(int(handle), &opened) == 0 && S_ISREG(named.st_mode) &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino && opened.st_nlink == 1;
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
bool heldOpen(int folder, const char *name, const struct stat &st)
{
    if (!S_ISREG(st.st_mode)) return false;
    const int fd =
        ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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
    if (heldOpen(AT_FDCWD, name.constData(), st)) return ErrSharingViolation;
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
    if (heldOpen(AT_FDCWD, source.constData(), st)) return ErrSharingViolation;
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
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

unsigned newFileMode()
{
    // Read, not set and put back: while the umask were 0, a file that another thread of the
    // process makes would be open to everyone.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (!line.startsWith("Umask:")) continue;
            bool ok = false;
            const unsigned mask = line.mid(6).trimmed().toUInt(&ok, 8);
            if (ok) return 0666 & ~mask;
        }
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
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

int regularFileMode(const QString &path, unsigned &mode)
{
    struct stat st {};
    if (::stat(nativeBytes(path).constData(), &st) != 0)
        return errno == ENOENT ? ErrFileNotFound : winErrorFromErrno(errno);
    if (!S_ISREG(st.st_mode)) return ErrAccessDenied;
    mode = st.st_mode & 0777;
    return NoError;
}

int lockFolder(const QString &folder, FileHandle &handle)
{
    handle = NoFile;
    const int fd = ::open(nativeBytes(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return winErrorFromErrno(errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        return e == EWOULDBLOCK ? ErrSharingViolation : winErrorFromErrno(e);
    }
    handle = fd;
    return NoError;
}

int removeDir(const QString &path)
{
    const QByteArray name = nativeBytes(path);
    if (isLink(path)) return ::unlink(name.constData()) == 0 ? NoError : winErrorFromErrno(errno);
    return ::rmdir(name.constData()) == 0 ? NoError : winErrorFromErrno(errno);
}

// ---- Folders by handle ----

namespace {

// What an open refused with O_NOFOLLOW and O_DIRECTORY gives for a link or a non-folder.
bool linkOrNoFolder(int err) { return err == ELOOP || err == ENOTDIR; }

} // namespace

QString resolvedPath(const QString &path)
{
    if (path.isEmpty()) return {};
    char *real = ::realpath(nativeBytes(path).constData(), nullptr);
    if (!real) return {};
    const QString out = QFile::decodeName(real);
    std::free(real);
    return out;
}

int openFolder(const QString &path, FolderHandle &handle)
{
    handle = NoFolder;
    const QByteArray name = nativeBytes(path);
    if (!name.startsWith('/')) return ErrPathNotFound;
    int fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return winErrorFromErrno(errno);
    const QList<QByteArray> parts = name.split('/');
    // The last step opens for reading, the ones before only to be looked through.
    qsizetype last = parts.size() - 1;
    while (last >= 0 && parts[last].isEmpty()) --last;
    for (qsizetype i = 0; i <= last; ++i) {
        const QByteArray &part = parts[i];
        if (part.isEmpty()) continue;
        if (part == "." || part == "..") {
            ::close(fd);
            return ErrAccessDenied;
        }
        const int next =
            ::openat(fd, part.constData(),
                     (i == last ? O_RDONLY : O_PATH) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int err = errno;
        ::close(fd);
        if (next < 0) return linkOrNoFolder(err) ? ErrAccessDenied : winErrorFromErrno(err);
        fd = next;
    }
    if (last < 0) { // the root itself
        const int root = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int err = errno;
        ::close(fd);
        if (root < 0) return winErrorFromErrno(err);
        fd = root;
    }
    handle = fd;
    return NoError;
}

int openSubfolder(FolderHandle parent, const QByteArray &name, FolderHandle &handle)
{
    handle = NoFolder;
    if (name.isEmpty() || name.contains('/') || name == "." || name == "..") return ErrAccessDenied;
    const int fd = ::openat(parent, name.constData(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return linkOrNoFolder(errno) ? ErrAccessDenied : winErrorFromErrno(errno);
    handle = fd;
    return NoError;
}

void closeFolder(FolderHandle handle)
{
    if (handle != NoFolder) ::close(handle);
}

int listFolder(FolderHandle folder, QList<QByteArray> &names)
{
    names.clear();
    // The copy is the listing's to close; the handle stays the caller's.
    const int fd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return winErrorFromErrno(errno);
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        const int err = errno;
        ::close(fd);
        return winErrorFromErrno(err);
    }
    ::rewinddir(dir);
    int err = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry) {
            err = errno;
            break;
        }
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..") names.append(name);
    }
    ::closedir(dir);
    return err ? winErrorFromErrno(err) : NoError;
}

EntryKind entryKind(FolderHandle folder, const QByteArray &name)
{
    struct stat st {};
    if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? EntryKind::Missing : EntryKind::Other;
    return S_ISDIR(st.st_mode) ? EntryKind::Folder : EntryKind::Other;
}

int removeEntry(FolderHandle folder, const QByteArray &name)
{
    struct stat st {};
    if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return winErrorFromErrno(errno);
    if (S_ISDIR(st.st_mode)) return ErrAccessDenied;
    if (heldOpen(folder, name.constData(), st)) return ErrSharingViolation;
    return ::unlinkat(folder, name.constData(), 0) == 0 ? NoError : winErrorFromErrno(errno);
}

int removeSubfolder(FolderHandle folder, const QByteArray &name)
{
    return ::unlinkat(folder, name.constData(), AT_REMOVEDIR) == 0 ? NoError
                                                                   : winErrorFromErrno(errno);
}

} // namespace platform
