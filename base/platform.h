// The one place where Windows and Linux differ: code page, raw files, error numbers,
// environment, path separators, and the seam through which the base library talks to the user.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace platform {

// Error numbers as a Windows user sees them; every file failure is reported in this numbering.
enum WinError : int {
    NoError = 0,
    ErrFileNotFound = 2,
    ErrPathNotFound = 3,
    ErrTooManyFiles = 4,
    ErrAccessDenied = 5,
    ErrInvalidHandle = 6,
    ErrNotEnoughMemory = 8,
    ErrWriteFault = 29,
    ErrReadFault = 30,
    ErrSharingViolation = 32,
    ErrInvalidParameter = 87,
    ErrDiskFull = 112,
    ErrInvalidName = 123,
    ErrDirNotEmpty = 145,
    ErrAlreadyExists = 183,
    ErrFilenameTooLong = 206,
    ErrFileTooLarge = 223,
    // The program's own: more lines than the caller takes. Bit 29 is the one Windows leaves to
    // applications, so no system error can ever be read as it.
    ErrTooManyLines = 0x20000001,
};

// Maps an errno value to the Windows number shown to the user.
int winErrorFromErrno(int e);

// ---- ANSI code page (Windows-1252 on Linux) ----

// Characters the code page lacks become "?".
QByteArray toAnsi(QStringView text);
QString fromAnsi(QByteArrayView bytes);
QChar ansiChar(unsigned char byte);
bool ansiCanHold(QStringView text);

// ---- Upper case ----

// Each UTF-16 code unit on its own, as Windows' CharUpperBuffW does: letters beyond A-Z are
// raised too ("æ" becomes "Æ"), the result never depends on the user's locale (a Turkish "i"
// is still "I") and is as long as the text ("ß" stays "ß"), so names found by it stay found.
QString upperCase(const QString &text);

// ---- Whole-file text as a list of lines ----

enum class Encoding { Ansi, Utf8, Utf16LE, Utf16BE };

// Decodes a whole file: a UTF-8/UTF-16 byte-order mark selects that encoding (and is remembered
// in enc), otherwise the ANSI code page. CR LF, lone CR and lone LF end a line; a final line
// end adds no entry.
QStringList decodeLines(QByteArrayView data, Encoding &enc);
// CR LF after every line, with the byte-order mark of enc (none for Ansi).
QByteArray encodeLines(const QStringList &lines, Encoding enc);
// The encoding a list is actually written in, so that nothing is lost: a list the ANSI code
// page cannot hold goes to UTF-8 with a byte-order mark, and one that holds a lone surrogate
// half (which UTF-8 cannot carry) to UTF-16 LE with its mark.
Encoding writableEncoding(const QStringList &lines, Encoding wanted);

// The largest file read whole: far more than any settings file, log or code list holds, and
// small enough that a runaway file never fills the memory.
constexpr std::int64_t MaxTextFileSize = std::int64_t(64) << 20;

// 0, or 223 with a notice of its own for a text file larger than MaxTextFileSize.
int checkTextFileSize(const QString &path, std::int64_t size);

// The whole file as it lies on disk. Returns the error number; on failure data is left empty.
// A file larger than MaxTextFileSize is refused (223) with a notice of its own.
int readBytes(const QString &path, QByteArray &data);
// The lines decodeLines would give, counted over the bytes without decoding them; counting
// stops past limit (when it is not negative), so the answer is then limit + 1.
qsizetype countLines(QByteArrayView data, qsizetype limit = -1);
// Returns the error number; on failure lines is left empty and enc is Ansi. A file larger than
// MaxTextFileSize is refused (223) with a notice of its own; one of more than maxLines lines
// (when it is not negative) is refused (ErrTooManyLines) before a line is made, so a refusal
// costs no more than the file's bytes.
int readLines(const QString &path, QStringList &lines, Encoding &enc, qsizetype maxLines = -1);
// Writes lines in writableEncoding(lines, enc). With atomic, the file is replaced whole through
// a temporary file of its own in the same folder, and a read-only file is refused (5) before
// anything is written. A link is followed, so the link stays and its target is replaced; the
// file keeps its permissions. Where the folder takes no temporary file but the file exists, it
// is rewritten in place instead, but only when the room for the new bytes could be reserved
// first; else (a full disk) the file is left as it was. Anything in the file's place that is not
// a regular file is refused (5). Returns the error number.
int writeLines(const QString &path, const QStringList &lines, Encoding enc, bool atomic = false);

// ---- Raw files ----

using FileHandle = std::intptr_t;
constexpr FileHandle NoFile = -1;

enum class OpenMode {
    Read,      // existing file, reading only, others may read
    Rewrite,   // create or truncate, writing, others may read
    RewritePrivate, // as Rewrite, and the file is its owner's alone, whatever its mode was
    Append,    // existing file, reading and writing at its end, others may read
    ReadWrite, // existing file, reading and writing, others may read and write
};

// Only a regular file (or a link to one) is opened: a folder, pipe, device or socket is refused
// (5) without waiting for a writer or reader at its other end.
int openFile(const QString &path, OpenMode mode, FileHandle &handle);
int readFile(FileHandle handle, char *buffer, int size, int &got);
int writeFile(FileHandle handle, const char *buffer, int size);
int fileSize(FileHandle handle, std::int64_t &size);
int closeFile(FileHandle handle);

// ---- File system, with Windows semantics for the read-only mark ----

bool fileExists(const QString &path); // a file, or a link to one
bool dirExists(const QString &path);
bool isReadOnly(const QString &path);
int setReadOnly(const QString &path, bool readOnly);
// One level; 183 when it exists, 3 when the parent is missing. An owner-only folder is closed
// to everyone but its owner, as the application-data folder is on Windows.
int makeDir(const QString &path, bool ownerOnly = false);
// The folder and any missing parents; only the last one made owner-only when asked. A folder
// that exists already keeps its mode. Returns the error number, 0 when the folder exists.
int makePath(const QString &path, bool ownerOnly = false);
// A link is removed as a link; a read-only file gives 5, a file held open through openFile 32.
int removeFile(const QString &path);
// The name only, whatever the read-only mark: a name needs no permission on its file here, and
// the file, which other names may share, keeps its mode. A file held open gives 32 all the same.
int removeName(const QString &path);
// A new name for a file or folder that never replaces anything: 183 when the new name is taken,
// and, as on Windows, 32 for a file held open through openFile.
int renameFile(const QString &from, const QString &to);
int removeDir(const QString &path);  // an empty folder, or a link to a folder (the link only)
// Gives path the permissions of the file model, or those a new file gets where model does not
// exist. Set-id bits are not carried over.
int setModeLike(const QString &path, const QString &model);
bool isLink(const QString &path);

// ---- Environment and program ----

QString env(const QString &name); // empty when unset
QString programFilePath();
// The user's application-data folder, without a final separator: "APPDATA" when set, else
// $XDG_DATA_HOME, else ~/.local/share.
QString appDataFolder();
QChar separator();
// "data\tfm" -> "data/tfm" on Linux; unchanged on Windows.
QString nativeName(const QString &name);

// Where the platform layer's own notices go: the log, once the base library has set it up;
// nowhere before.
void notice(const QString &line);
void setNoticeSink(std::function<void(const QString &)> sink);

// The clock behind every time stamp, replaceable by tests.
QDateTime now();
void setClock(std::function<QDateTime()> clock);

// ---- Requests to end from outside ----

// Calls handler from the message loop, on the GUI thread, each time the process is asked to
// end (SIGTERM, SIGHUP or SIGINT on Linux: a logout, a shutdown, Ctrl-C), in place of the
// immediate end those would bring. Requests that come while no message loop runs (during the
// shut-down, say) are taken in and have no effect. Needs the application object; once only.
void onEndRequest(std::function<void()> handler);

// ---- What the base library shows the user ----

enum class Icon { None, Error };

class UserInterface {
  public:
    virtual ~UserInterface() = default;
    // A modal box with one OK button; returns when the user has closed it.
    virtual void message(const QString &caption, const QString &text, Icon icon) = 0;
    virtual void setBusyCursor(bool busy) = 0;
    // Hands a file or web address to the desktop's default program; does not wait for it.
    virtual void shellOpen(const QString &file, const QString &parameters,
                           const QString &folder) = 0;
};

// Until the program installs the desktop's implementation, boxes go to standard error, so
// nothing ever blocks.
UserInterface &ui();
void setUserInterface(UserInterface *ui);
// Installs the Qt Widgets implementation (message boxes, override cursor, QDesktopServices).
void installWidgetsUserInterface();

} // namespace platform
