// textfil: the log kept in memory and saved at exit, and the checked text-file routines.
#include "textfil.h"

#include "Felles.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

QStringList loglines;
platform::Encoding logencoding = platform::Encoding::Ansi;
QString logfile;
QString logfolder;
bool logtofile = false;
bool verbose = false;
int errorcount = 0;
int warningcount = 0;
int hintcount = 0;

namespace {

constexpr char CtrlZ = 26;
int lastEofError = 0;
// Set when the log file could not be loaded: the file this run's lines are saved in instead.
QString besidefile;
// The lines at the head of loglines that the log file held when it was last loaded or written
// here, and how the file looked then (size -1: there was none). Another instance that ends while this
// one runs saves its lines in between; they are kept at the shut-down, before this run's.
bool watching = false;
QStringList fromfile;
struct FileState {
    std::int64_t size = -1; // -1: no file
    std::int64_t changed = 0;
    ino_t inode = 0;
    bool operator==(const FileState &) const = default;
} fromfileState;
std::function<void(LogSaveStep)> logSaveSeam;
// Another instance saves its log in far less; one that holds the lock longer has hung.
constexpr int LockWaitMs = 10000;

FileState stateOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return {st.st_size, std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            st.st_ino};
}

void rememberFile(const QString &path, const QStringList &lines)
{
    watching = true;
    fromfile = lines;
    fromfileState = stateOf(path);
}

void forgetFile()
{
    watching = false;
    fromfile.clear();
    fromfileState = {};
}

bool fileChanged(const QString &path)
{
    return !(stateOf(path) == fromfileState);
}

void seam(LogSaveStep step)
{
    if (logSaveSeam) logSaveSeam(step);
}

// The log folder's lock, held from the log's re-read to its rename, so that instances ending
// at once (one logout ends them all) merge their lines one after another. Where the folder
// takes no lock, there is nobody to wait for.
class LogLock {
  public:
    explicit LogLock(const QString &log)
    {
        const QString folder = QFileInfo(log).absolutePath();
        for (int waited = 0;; waited += 10) {
            if (platform::lockFolder(folder, m_handle) != platform::ErrSharingViolation) return;
            if (waited == 0) seam(LogSaveStep::WaitingForLock);
            if (waited >= LockWaitMs) {
                m_timedOut = true;
                return;
            }
            ::usleep(10000);
        }
    }
    ~LogLock()
    {
        if (m_handle != platform::NoFile) platform::closeFile(m_handle);
    }
    LogLock(const LogLock &) = delete;
    LogLock &operator=(const LogLock &) = delete;
    bool timedOut() const { return m_timedOut; }

  private:
    platform::FileHandle m_handle = platform::NoFile;
    bool m_timedOut = false;
};

// The lines this run added to what the log file held when it was loaded.
QStringList ownLines()
{
    if (watching && loglines.mid(0, fromfile.size()) == fromfile)
        return loglines.mid(fromfile.size());
    return loglines;
}

// The full log goes aside under its name and ".1", in place of an older one, so that the log
// that follows starts empty and stays readable. Through a link, its target goes aside.
bool setAside(const QString &log, QByteArray &from, QByteArray &aside)
{
    const QString canonical = QFileInfo(log).canonicalFilePath();
    from = QFile::encodeName(canonical.isEmpty() ? log : canonical);
    aside = from + ".1";
    return ::rename(from.constData(), aside.constData()) == 0;
}

// "Ostrel.log" -> "Ostrel-20261210-083000.log", with a number added where that one exists.
QString besideName(const QString &log)
{
    const QFileInfo info(log);
    const QString stem = info.path() + platform::separator() + info.completeBaseName() + u'-' +
                         platform::now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    QString name = stem + suffix;
    for (int n = 2; platform::fileExists(name); ++n)
        name = stem + u'-' + QString::number(n) + suffix;
    return name;
}

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
            const int n = int(std::min<qsizetype>(textfile::BufferSize - f.bufpos, bytes.size() - i));
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

// ---- The log ----

EInOutError::EInOutError(int c)
    : std::runtime_error("I/O error " + std::to_string(c)), code(c)
{
}

int writelog(const QString &message)
{
    if (!logtofile) return -1;
    // A message is one line: a line break in it, from a switch or a file name, must not be
    // able to forge a line of its own.
    loglines.append(datetimetext() + u' ' + oneline(message));
    if (message.startsWith(QLatin1String("ERROR:")) || message.startsWith(QLatin1String("FEIL:")))
        ++errorcount;
    else if (message.startsWith(QLatin1String("WARNING:")) ||
             message.startsWith(QLatin1String("ADVARSEL:")))
        ++warningcount;
    else if (message.startsWith(QLatin1String("HINT:")))
        ++hintcount;
    return 0;
}

void ClearLog()
{
    const QString line = datetimetext() + QStringLiteral(" LOGGFIL TØMT (TextFile.ClearLog).");
    loglines.clear();
    loglines.append(line);
    textfile f;
    rewritesafe(f, logfile);
    writelnsafe(f, line);
    // Unlike closesafe, this close is strict: its failure reaches the caller.
    if (const int err = close(f)) throw EInOutError(err);
    rememberFile(logfile, loglines);
    errorcount = 0;
}

void logfilename(QString &path)
{
    QString program = QFileInfo(platform::programFilePath()).fileName();
    const qsizetype dot = program.lastIndexOf(u'.');
    program = (dot < 0 ? program : program.left(dot)) + QStringLiteral(".log");
    if (logfolder.isEmpty())
        logfolder = platform::appDataFolder() + platform::nativeName(QStringLiteral("\\Kalvenor\\log\\"));
    logfile = logfolder + program;
    path = logfile;
}

void loadloglines()
{
    const QString &path = logfile;
    platform::removeStaleTemporaries(path);
    if (!platform::fileExists(path)) {
        rememberFile(path, {});
        return;
    }
    // A log at its cap is set aside at the shut-down, and this run's lines begin a new one.
    if (stateOf(path).size > platform::MaxTextFileSize) {
        rememberFile(path, {});
        fromfileState.size = -2;
        return;
    }
    QStringList lines;
    platform::Encoding enc;
    const int err = platform::readLines(path, lines, enc);
    if (err == 0) {
        loglines = lines;
        logencoding = enc;
        besidefile.clear();
        rememberFile(path, lines);
        return;
    }
    // Saving over it at the end would lose every earlier line.
    besidefile = besideName(path);
    writelog(QStringLiteral("FEIL: Kan ikke lese loggfilen ") + path + QStringLiteral(" (feilnr. ") +
             QString::number(err) + QStringLiteral("); den blir ikke overskrevet, og linjene fra "
                                                   "denne kjøringen lagres i ") +
             besidefile);
}

QString logsavefile()
{
    return besidefile.isEmpty() ? logfile : besidefile;
}

void textfilInitialization()
{
    loglines.clear();
    besidefile.clear();
    forgetFile();
    logencoding = platform::Encoding::Ansi;
    logfile.clear();
    logfolder.clear();
    logtofile = false;
    verbose = false;
    errorcount = warningcount = hintcount = 0;
    QString path;
    logfilename(path);
    platform::setNoticeSink([](const QString &line) { writelog(line); });
}

void setLogSaveSeam(std::function<void(LogSaveStep)> seam) { logSaveSeam = std::move(seam); }

namespace {

// Under the log's lock: takes in what another instance saved since the load, and saves.
int saveLog()
{
    bool full = false;
    // What another instance saved since the load stays, followed by this run's own lines.
    if (watching && besidefile.isEmpty() && platform::fileExists(logfile) &&
        fileChanged(logfile) && loglines.mid(0, fromfile.size()) == fromfile) {
        const QStringList own = ownLines();
        QStringList saved;
        platform::Encoding enc;
        if (stateOf(logfile).size > platform::MaxTextFileSize) {
            full = true;
            loglines = own;
        } else if (platform::readLines(logfile, saved, enc) == 0) {
            loglines = saved + own;
            logencoding = enc;
        } else {
            // Held or spoilt since: this run's lines are kept beside it, as after a failed load.
            besidefile = besideName(logfile);
            loglines = own;
        }
    }
    seam(LogSaveStep::Merged);
    QByteArray bytes =
        platform::encodeLines(loglines, platform::writableEncoding(loglines, logencoding));
    // A log that would pass what a start reads back goes aside, and this run's lines begin anew.
    if (besidefile.isEmpty() && !full && bytes.size() > platform::MaxTextFileSize &&
        platform::fileExists(logfile)) {
        full = true;
        loglines = ownLines();
    }
    QByteArray from, aside;
    if (full) {
        bytes = platform::encodeLines(loglines, platform::writableEncoding(loglines, logencoding));
        if (!setAside(logfile, from, aside)) besidefile = besideName(logfile);
    }
    const QString target = logsavefile();
    // A log that could not be loaded and got no line of this run leaves no file behind.
    if (!besidefile.isEmpty() && loglines.isEmpty()) return 0;
    // Whole or not at all: a disk that fills up must not leave the earlier lines torn off.
    const int err = platform::replaceFile(target, bytes);
    // Nothing saved: the full log takes its name back rather than leave none.
    if (err && full && besidefile.isEmpty()) ::rename(aside.constData(), from.constData());
    return err;
}

} // namespace

void textfilFinalization()
{
    platform::setNoticeSink({});
    int err = 0;
    {
        LogLock lock(logfile);
        // Rather beside it than lost, or the shut-down held up for good.
        if (lock.timedOut() && besidefile.isEmpty()) {
            loglines = ownLines();
            besidefile = besideName(logfile);
        }
        err = saveLog();
    }
    // Losing the log must not turn a normal exit into a crash.
    if (err)
        std::fprintf(stderr, "Kalvenor: could not write the log file %s (error %d)\n",
                     logsavefile().toLocal8Bit().constData(), err);
    loglines.clear();
    logfile.clear();
    logfolder.clear();
    besidefile.clear();
    forgetFile();
}
