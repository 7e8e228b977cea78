// log: the run's log lines in memory, and the log file they are loaded from and saved to.
#include "log.h"

#include "Felles.h"
#include "checkedtext.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

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

// Set when the log file could not be loaded: the file this run's lines are saved in instead.
QString besidefile;
// The lines at the head of loglines that the log file held when it was last loaded or written
// here, and how the file looked then (size -1: there was none). Another instance that ends while
// this one runs saves its lines in between; they are kept at the shut-down, before this run's.
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

bool fileChanged(const QString &path) { return !(stateOf(path) == fromfileState); }

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

} // namespace

EInOutError::EInOutError(int c) : std::runtime_error("I/O error " + std::to_string(c)), code(c) {}

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
    if (const int err = closetextfile(f)) throw EInOutError(err);
    rememberFile(logfile, loglines);
    errorcount = 0;
}

void logfilename(QString &path)
{
    QString program = QFileInfo(platform::programFilePath()).fileName();
    const qsizetype dot = program.lastIndexOf(u'.');
    program = (dot < 0 ? program : program.left(dot)) + QStringLiteral(".log");
    if (logfolder.isEmpty())
        logfolder =
            platform::appDataFolder() + platform::nativeName(QStringLiteral("\\Kalvenor\\log\\"));
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
    writelog(QStringLiteral("FEIL: Kan ikke lese loggfilen ") + path +
             QStringLiteral(" (feilnr. ") + QString::number(err) +
             QStringLiteral("); den blir ikke overskrevet, og linjene fra "
                            "denne kjøringen lagres i ") +
             besidefile);
}

QString logsavefile() { return besidefile.isEmpty() ? logfile : besidefile; }

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
    if (watching && besidefile.isEmpty() && platform::fileExists(logfile) && fileChanged(logfile) &&
        loglines.mid(0, fromfile.size()) == fromfile) {
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
