// startup: the base library's start-up and shut-down: the units' initialisations in their
// fixed order (hs_reg's among them), run by the program entry before the first window, and their
// finalisations in reverse after the message loop.
#include "startup.h"

#include "Felles.h"
#include "hs_reg.h"
#include "hs_regshared.h"
#include "inifile.h"
#include "platform.h"
#include "textfil.h"
#include "xmldata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace hsreg;

// The order is spelled out here rather than left to static initialisers: hs_reg needs the
// log that textfil sets up, and xmldata logs through it.
void basestartup(const QStringList &arguments)
{
    // Felles: nothing to set up.
    textfilInitialization();
    hs_regInitialization(arguments.mid(1)); // the switches, without the program's own path
    // input and TFM (the composer) and ftpunit (the transfer) have no start-up work; the
    // base library stands in for them here and never calls the composer.
    xmldataInitialization();
}

void baseshutdown()
{
    // ftpunit: nothing to shut down.
    xmldataFinalization();
    // TFM and input: nothing to shut down.
    hs_regFinalization();
    textfilFinalization();
    // Felles: nothing to shut down.
}

namespace {

// Every argument is compared exactly, letter case included, and the value after "-ip" or
// "--user" is compared as a switch in its own turn too. Returns whether "-install" was given.
bool readCommandLine(const QStringList &arguments)
{
    bool install = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        const QString next = arguments.value(i + 1);
        if (argument == u"--debug") {
            logtofile = true;
            verbose = true;
        }
        if (argument == u"-install") {
            logtofile = true;
            verbose = true;
            install = true;
        }
        if (argument == u"-ip") ipparam = next;
        if (argument == u"--user") userparam = next;
    }
    return install;
}

// A "--user" value that is no plain file name is refused before anything uses it; the run goes
// on with the logon name. Returns the refused text, empty when there was none.
QString refuseBadUserName()
{
    if (userparam.isEmpty() || validusername(userparam)) return {};
    const QString refused = userparam;
    userparam.clear();
    return refused;
}

QString refusedUserText(const QString &refused)
{
    return QStringLiteral("Brukernavnet \"") + oneline(refused) +
           QStringLiteral(
               "\" kan ikke brukes: et brukernavn kan ikke inneholde / \\ .. "
               "kontrolltegn eller < > : \" | ? *, kan ikke være et enhetsnavn og kan ikke "
               "være lengre enn et filnavn tillater. "
               "Programmet bruker påloggingsnavnet ") +
           getusername() + u'.';
}

void stampSettings(bool isNew)
{
    setinisection(QStringLiteral("INI_SELF"));
    const QString program = platform::programFilePath();
    const QString prefixes[] = {QStringLiteral("CREATED_"), QStringLiteral("MODIFIED_")};
    for (const QString &prefix : prefixes) {
        if (prefix == prefixes[0] && !isNew) continue;
        iniwritestring(prefix + QStringLiteral("TIME"), datetimetext());
        iniwritestring(prefix + QStringLiteral("NAME"), ininame);
        iniwritestring(prefix + QStringLiteral("PROGRAM"), program);
        iniwritestring(prefix + QStringLiteral("USER"), getusername());
        iniwritestring(prefix + QStringLiteral("INIVERSION"), IniVersion);
    }
    resetinisection();
}

// A folder in which nobody but the user (or the system) can put or swap a file.
QString folderRefusal(int folder, const QString &which)
{
    struct stat st {};
    if (::fstat(folder, &st) != 0)
        return which + QStringLiteral(" kan ikke undersøkes (feilnr. ") +
               QString::number(platform::winErrorFromErrno(errno)) + u')';
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return which + QStringLiteral(" eies av en annen bruker");
    // A shared folder with the sticky bit still lets anyone put a file or a link into it.
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("andre brukere kan skrive i ") + which;
    return {};
}

// The folder that holds the file open on fd, checked as above, and checked to hold that very
// file, so that a swap between the two looks does not pass.
QString targetFolderRefusal(int fd)
{
    const QByteArray target = QFile::encodeName(
        QFileInfo(QStringLiteral("/proc/self/fd/") + QString::number(fd)).canonicalFilePath());
    const qsizetype slash = target.lastIndexOf('/');
    const QString which = QStringLiteral("mappen lenken peker til");
    if (slash < 0) return which + QStringLiteral(" kan ikke finnes");
    const int folder = ::open(slash == 0 ? "/" : target.left(slash).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return which + QStringLiteral(" kan ikke åpnes");
    QString why = folderRefusal(folder, which);
    struct stat inFolder {
    }, opened{};
    if (why.isEmpty() && (::fstatat(folder, target.mid(slash + 1).constData(), &inFolder,
                                    AT_SYMLINK_NOFOLLOW) != 0 ||
                          ::fstat(fd, &opened) != 0 || inFolder.st_dev != opened.st_dev ||
                          inFolder.st_ino != opened.st_ino))
        why = QStringLiteral("filen lenken peker til ble byttet ut");
    ::close(folder);
    return why;
}

// Opens the working folder's settings file when it is the user's own: a regular file owned by
// the user, in a folder that no other user may write to. A link counts only where the user
// made it there, and then its target must pass the same tests. Returns why the file is not
// used, empty when handle is open on it.
QString openOwnSettings(platform::FileHandle &handle)
{
    handle = platform::NoFile;
    const int folder = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return QStringLiteral("arbeidsmappen kan ikke åpnes");
    const uid_t me = ::geteuid();
    const QByteArray name = IniFileName.toLatin1();
    QString why = folderRefusal(folder, QStringLiteral("arbeidsmappen"));
    struct stat st {};
    if (why.isEmpty() && ::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        why = QStringLiteral("den kan ikke undersøkes");
    const bool link = why.isEmpty() && S_ISLNK(st.st_mode);
    if (link && st.st_uid != me)
        why = QStringLiteral("den er en lenke som en annen bruker har laget");
    int fd = -1;
    if (why.isEmpty()) {
        // No waiting on a pipe; no following of a link but one that passed above.
        fd = ::openat(folder, name.constData(),
                      O_RDONLY | O_NONBLOCK | O_CLOEXEC | (link ? 0 : O_NOFOLLOW));
        if (fd < 0) why = QStringLiteral("den kan ikke åpnes");
    }
    ::close(folder);
    const QString what = link ? QStringLiteral("filen lenken peker til") : QStringLiteral("den");
    if (why.isEmpty() && ::fstat(fd, &st) != 0) why = what + QStringLiteral(" kan ikke undersøkes");
    if (why.isEmpty() && !S_ISREG(st.st_mode))
        why = what + QStringLiteral(" er ikke en vanlig fil");
    if (why.isEmpty() && st.st_uid != me) why = what + QStringLiteral(" eies av en annen bruker");
    if (why.isEmpty() && link) why = targetFolderRefusal(fd);
    if (why.isEmpty()) {
        // Reading goes on without waiting, as any regular file does.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        handle = fd;
    } else if (fd >= 0) {
        ::close(fd);
    }
    return why;
}

QString refusedSettingsText(const QString &file, const QString &why, const QString &used)
{
    return QStringLiteral("Innstillingsfilen ") + file +
           QStringLiteral(" i arbeidsmappen blir verken lest eller lagret fordi ") + why +
           QStringLiteral(". Programmet bruker innstillingene i ") + used + u'.';
}

// A settings file in the working folder wins over the user's own, when it is the user's own;
// the stamps reach the disk with the first write-back. Returns why a file in the working
// folder was passed over, empty when none was.
QString openSettingsStore()
{
    const QString userEtc =
        platform::appDataFolder() + platform::nativeName(QStringLiteral("\\Kalvenor\\etc\\"));
    const QString local = QDir::current().absoluteFilePath(IniFileName);
    platform::FileHandle own = platform::NoFile;
    QString why;
    if (platform::fileExists(local)) why = openOwnSettings(own);
    etcpath = own != platform::NoFile ? withSeparator(QDir::currentPath()) : userEtc;
    if (!platform::dirExists(etcpath)) {
        etcpath = userEtc;
        platform::makePath(etcpath, true);
    }
    ininame = QDir::cleanPath(QFileInfo(etcpath + IniFileName).absoluteFilePath());
    etcpath = withSeparator(QFileInfo(ininame).absolutePath());
    const bool isNew = own == platform::NoFile && !platform::fileExists(ininame);
    delete inifile;
    inifile = new IniDocument;
    if (own != platform::NoFile) {
        inifile->load(ininame, own);
        platform::closeFile(own);
    } else {
        inifile->load(ininame);
    }
    stampSettings(isNew);
    return why.isEmpty() ? why : refusedSettingsText(local, why, ininame);
}

void recordSettingsFolder() { setfolder(QStringLiteral("etc"), etcpath); }

// The tree is built on the first run, that is while its "data" folder is missing; a later start
// finishes a tree that a first start left part-made.
void buildFolderTree(bool install)
{
    const QString data = baseFolder() + QStringLiteral("data");
    if (install || !platform::dirExists(data))
        makefoldertree();
    else
        completefoldertree();
}

// The file could not be read when it was opened; the line is logged only now, since the log
// file's load replaces every line before. "LogToFile" alone decides whether the log takes it,
// and settings that could not be read do not hold it, so standard error always gets the line
// too: the failure is never lost.
void reportUnreadableSettings()
{
    if (!inifile || !inifile->readError()) return;
    const QString line = unreadableLine(*inifile);
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    writelog(line);
}

// Also the start-up's first write-back, which puts the stamps on disk.
void useLogFolder() { logpath(logfolder); }

void writeSettingsAtShutdown()
{
    closeuserini(); // a per-user bracket left open must not leave the main file unwritten
    if (inifile) {
        // The one line this failure gets is the crash line below, so the document is written
        // directly rather than through writeBack, whose own line would count as an error.
        int err = 0;
        if (!platform::isReadOnly(ininame)) err = inifile->updateFile(settingsFileMode(ininame));
        // Too large to be read back is no crash: it has a report of its own, given once.
        const bool tooLarge = err == platform::ErrFileTooLarge && !inifile->readError();
        if (tooLarge) reportTooLarge(*inifile);
        delete inifile;
        inifile = nullptr;
        if (err && !tooLarge) writelog(QStringLiteral("INI-CRASH i HS_REG.PAS: ") + ininame);
        if (verbose) {
            if (platform::isReadOnly(ininame))
                writelog(readOnlyLine(ininame));
            else
                writelog(QStringLiteral("Oppdaterer ") + ininame);
        }
    }
}

} // namespace

void hs_regInitialization(const QStringList &arguments)
{
    const bool install = readCommandLine(arguments);
    const QString refusedUser = refuseBadUserName();
    if (!refusedUser.isEmpty())
        platform::ui().message(QStringLiteral("FEIL"), refusedUserText(refusedUser),
                               platform::Icon::Error);
    const QString refusedSettings = openSettingsStore();
    if (!refusedSettings.isEmpty())
        platform::ui().message(QStringLiteral("ADVARSEL"), refusedSettings, platform::Icon::Error);
    recordSettingsFolder();
    buildFolderTree(install);

    // From here on the settings alone decide; the switches counted only for the tree's lines.
    logtofile = inireadbool(QStringLiteral("LogToFile"));
    if (inireadbool(QStringLiteral("ClearLogFileOnStartup"))) {
        try {
            ClearLog();
        } catch (const EInOutError &) {
            // Already shown and counted; a log that cannot be cleared is no reason not to start.
        }
    }
    loadloglines();
    failingFiles.clear(); // the lines logged so far are gone with the log file's load
    // Logged only now: the log file's load replaces every line before it.
    if (!refusedUser.isEmpty()) writelog(QStringLiteral("FEIL: ") + refusedUserText(refusedUser));
    if (!refusedSettings.isEmpty()) writelog(QStringLiteral("ADVARSEL: ") + refusedSettings);
    reportUnreadableSettings();
    if (inireadbool(QStringLiteral("DeleteTemporaryFiles")))
        deletetempfiles(inireadbool(QStringLiteral("DeleteSystemTemporaryFiles")));
    useLogFolder();
    if (!verbose) verbose = inireadbool(QStringLiteral("VerboseLogging")) && logtofile;

    if (logtofile) {
        writelog(QStringLiteral("START: ") + platform::programFilePath());
        writelog(QStringLiteral("INIFIL: ") + ininame);
        writelog(QStringLiteral("BRUKER: ") + getusername());
        if (verbose) logloginfo();
    }
}

void hs_regFinalization()
{
    writeSettingsAtShutdown();
    if (verbose) {
        writelog(QStringLiteral("AVSLUTTER PROGRAM. %1 feilmeldinger og %2 advarsler")
                     .arg(errorcount)
                     .arg(warningcount));
        if (hintcount > 0)
            writelog(QStringLiteral("Det ble gitt %1 hint i programmet").arg(hintcount));
    }
    resetUnitState();
}
