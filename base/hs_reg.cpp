// hs_reg: the settings store and its current section, the per-user settings file, program
// folders, window placement, user and machine facts, temporary-file cleanup, and the base
// library's start-up and shut-down.
#include "hs_reg.h"

#include "Felles.h"
#include "inifile.h"
#include "platform.h"
#include "registry.h"
#include "textfil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSet>
#include <QWidget>
#include <QWindow>

#include <climits>
#include <cstdio>
#include <memory>

namespace {

const QString IniFileName = QStringLiteral("kalvenor.ini");
const QString IniVersion = QStringLiteral("5.36");
const QString StandardSection = QStringLiteral("STANDARD");
const QString FoldersSection = QStringLiteral("FOLDERS");

} // namespace

IniDocument *inifile = nullptr;
QString ininame = IniFileName;
QString etcpath;
QString inisection = StandardSection;

QString userparam;
QString ipparam;
QString cacheduser;

namespace {

// While the per-user file is open: the main document, kept so that nothing it holds is lost
// when it could not be written or read back.
IniDocument *mainDocument = nullptr;
bool mainOnDisk = false;

QString withSeparator(const QString &path)
{
    return path.endsWith(platform::separator()) ? path : path + platform::separator();
}

// The settings hold the FTP password in a scrambling anyone can reverse, and the log names
// users and hosts: on Windows the whole application-data folder is its user's alone.
bool ownerOnly(const QString &folderName)
{
    return folderName == QLatin1String("etc") || folderName == QLatin1String("log");
}

QString baseFolder()
{
    return platform::appDataFolder() + platform::nativeName(QStringLiteral("\\Kalvenor\\"));
}

// Settings files whose last write-back failed: the failure is logged once, not at every later
// write-back that fails the same way, until the file has been written again.
QSet<QString> failingFiles;
// Per-user files found read-only in this run: each gets its one warning.
QStringList readOnlyWarned;

QString readOnlyLine(const QString &file)
{
    return QStringLiteral("ADVARSEL: ") + file +
           QStringLiteral(" er skrivebeskyttet og vil ikke bli lagret.");
}

// A settings file that cannot be written never stops the program: its settings stay in memory.
bool writeBack(const IniDocument &doc)
{
    const int err = doc.updateFile();
    if (err == 0) {
        failingFiles.remove(doc.fileName());
        return true;
    }
    // A read-only file is the owner's choice, not a failure, and it stays one fact however
    // often the file comes up: the main file has the shut-down's warning, a per-user file one
    // warning when it is first met.
    if (err == platform::ErrAccessDenied && platform::isReadOnly(doc.fileName())) {
        if (doc.fileName() != ininame && !readOnlyWarned.contains(doc.fileName())) {
            readOnlyWarned.append(doc.fileName());
            writelog(readOnlyLine(doc.fileName()));
        }
        return false;
    }
    if (failingFiles.contains(doc.fileName())) return false;
    // Joined, not .arg(): a file name may itself hold "%1" or "%2".
    if (writelog(QStringLiteral("FEIL: Kan ikke lagre innstillingsfilen ") + doc.fileName() +
                 QStringLiteral(" (feilnr. ") + QString::number(err) + u')') == 0)
        failingFiles.insert(doc.fileName());
    return false;
}

QString unreadableLine(const IniDocument &doc)
{
    return QStringLiteral("FEIL: Kan ikke lese innstillingsfilen ") + doc.fileName() +
           QStringLiteral(" (feilnr. ") + QString::number(doc.readError()) + u')';
}

void reportUnreadable(const IniDocument &doc)
{
    if (doc.readError()) writelog(unreadableLine(doc));
}

} // namespace

// ---- Settings store ----

void setinisection(const QString &section)
{
    inisection = section;
}

void resetinisection()
{
    inisection = StandardSection;
}

void iniwritestring(const QString &key, const QString &value)
{
    if (inifile) inifile->writeString(inisection, key, value);
}

void iniwritebool(const QString &key, bool value)
{
    if (inifile) inifile->writeBool(inisection, key, value);
}

void iniwriteint(const QString &key, std::int32_t value)
{
    if (inifile) inifile->writeInteger(inisection, key, value);
}

QString inireadstring(const QString &key, QString &value)
{
    value = inifile ? inifile->readString(inisection, key, QString()) : QString();
    return value;
}

QString inireadstring(const QString &key)
{
    QString value;
    return inireadstring(key, value);
}

bool inireadbool(const QString &key)
{
    return inifile && inifile->readBool(inisection, key, false);
}

std::int32_t inireadint(const QString &key)
{
    return inifile ? inifile->readInteger(inisection, key, 0) : 0;
}

void openuserini()
{
    if (!inifile || mainDocument) return;
    const QString user = getusername();
    mainOnDisk = writeBack(*inifile);
    mainDocument = inifile;
    inifile = new IniDocument(etcpath + user + QStringLiteral(".INI"));
    reportUnreadable(*inifile);
}

void closeuserini()
{
    if (!mainDocument) return;
    writeBack(*inifile);
    delete inifile;
    inifile = mainDocument;
    mainDocument = nullptr;
    // The file is read anew only when it holds everything the document held.
    if (!mainOnDisk) return;
    auto fresh = std::make_unique<IniDocument>(ininame);
    if (fresh->readError()) {
        reportUnreadable(*fresh);
        return;
    }
    delete inifile;
    inifile = fresh.release();
}

// ---- Program folders ----

void kalvenorpath(const QString &name, QString &path)
{
    const QString base = baseFolder();
    if (name.isEmpty()) {
        path = base;
        return;
    }
    const QString kept = inisection;
    inisection = FoldersSection;
    QString p = inireadstring(name + QStringLiteral("_folder"));
    if (p.isEmpty()) p = base + platform::nativeName(name) + platform::separator();
    // Only folders of our own tree are made; a record pointing elsewhere is the user's business.
    if (!platform::dirExists(p) && name != QLatin1String("bin") && p.contains(base)) {
        writelog(QStringLiteral("hs_reg.kalvenorpath(") + name +
                 QStringLiteral("): Lager mappen ") + p);
        platform::makePath(p, ownerOnly(name));
    }
    p = withSeparator(p);
    setfolder(name, p);
    if (inifile) writeBack(*inifile);
    inisection = kept;
    path = p;
}

QString kalvenorpath(const QString &name)
{
    QString path;
    kalvenorpath(name, path);
    return path;
}

void setfolder(const QString &name, const QString &path)
{
    const QString kept = inisection;
    inisection = FoldersSection;
    iniwritestring(name + QStringLiteral("_folder"), path.isEmpty() ? path : withSeparator(path));
    inisection = kept;
}

void mkdirsafe(const QString &path, bool ownerOnly)
{
    const int err = platform::makeDir(path, ownerOnly);
    if (err == 0)
        writelog(QStringLiteral("Oppretter mappen ") + path);
    else
        writelog(QStringLiteral("FEIL: [mkdirsafe:%1] kan ikke opprette mappen ").arg(err) + path);
}

void makefoldertree()
{
    static const char *const tree[] = {
        "archive",     "backup",      "data",        "data\\quarvel", "data\\dobrin",
        "data\\zq4",   "data\\docs",  "data\\tfm",   "etc",           "export",
        "export\\xml", "export\\pdf", "export\\csv", "export\\html",  "export\\html\\varer",
        "import",      "images",      "spool",       "tmp",           "xml",
        "log",         "maler",       "maler\\docs", "maler\\zq4",
    };
    QString bin;
    binpath(bin);
    setfolder(QStringLiteral("doc"),
              QDir::cleanPath(QDir(bin).absoluteFilePath(QStringLiteral("../doc"))));
    const QString root = baseFolder();
    platform::makePath(root);
    for (const char *entry : tree) {
        const QString name = QString::fromLatin1(entry);
        const QString folder = root + platform::nativeName(name);
        mkdirsafe(folder, ownerOnly(name));
        setfolder(name, folder);
    }
}

void logpath(QString &path)
{
    const QString log = QStringLiteral("log");
    if (!platform::dirExists(kalvenorpath(log))) {
        setfolder(log, baseFolder() + log + platform::separator());
        platform::makePath(kalvenorpath(log), true);
    }
    kalvenorpath(log, path);
}

void binpath(QString &path)
{
    const QString program = platform::programFilePath();
    setfolder(QStringLiteral("bin"), program.left(program.lastIndexOf(platform::separator()) + 1));
    kalvenorpath(QStringLiteral("bin"), path);
}

// ---- Window placement ----

namespace {

QString placementSection(const QString &name)
{
    return QStringLiteral("VINDU-") + name;
}

// "Left" and "Top" are the frame's outer corner, as the window system has it once the window
// is on screen; before that, and without a window system of its own, the widget's position.
QPoint framecorner(const QWidget *window)
{
    const QWindow *handle = window->isWindow() ? window->windowHandle() : nullptr;
    return handle && handle->isVisible() ? handle->framePosition() : window->pos();
}

// Before the window is first shown, its frame is not known yet, and a plain move would put the
// client area at the corner: the window would creep by its frame on every run, and a window
// manager would centre one that never moved. The frame is placed, as the last step before
// the window is shown, since any change of size after it counts it as the client's again.
void placeframe(QWidget *window, const QPoint &corner)
{
    if (QWindow *handle = window->isWindow() ? window->windowHandle() : nullptr)
        handle->setFramePosition(corner);
}

QSize screenSize()
{
    // Without a screen there is nothing to pull a window back onto.
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(INT_MAX, INT_MAX);
}

} // namespace

int savewindowpos(QWidget *window, const QString &name, const QString &extra)
{
    if (!window) return 0;
    openuserini();
    const QString kept = inisection;
    inisection = placementSection(name);
    iniwritebool(QStringLiteral("Maximized"), window->isMaximized());
    const QPoint corner = framecorner(window);
    iniwriteint(QStringLiteral("Left"), corner.x());
    iniwriteint(QStringLiteral("Top"), corner.y());
    iniwriteint(QStringLiteral("Height"), window->height());
    iniwriteint(QStringLiteral("Width"), window->width());
    iniwritestring(QStringLiteral("Diverse"), extra);
    inisection = kept;
    closeuserini();
    return 0;
}

int loadwindowpos(QWidget *window, const QString &name, QString &extra)
{
    if (!window) return 0;
    openuserini();
    const QString kept = inisection;
    inisection = placementSection(name);
    const QSize screen = screenSize();
    // Moving a maximised window takes its maximised state away, and a stored false must not.
    const bool wasMaximized = window->windowState() & Qt::WindowMaximized;

    int left = inireadint(QStringLiteral("Left"));
    if (left > screen.width()) left = screen.width() - window->width();
    window->move(left, window->y());
    int top = inireadint(QStringLiteral("Top"));
    if (top > screen.height()) top = screen.height() - window->height();
    window->move(window->x(), top);

    if (extra != QLatin1String("OnlyPos")) {
        if (const int height = inireadint(QStringLiteral("Height")); height > 0)
            window->resize(window->width(), height);
        if (const int width = inireadint(QStringLiteral("Width")); width > 0)
            window->resize(width, window->height());
    }
    placeframe(window, QPoint(left, top));
    if ((inireadbool(QStringLiteral("Maximized")) || wasMaximized) &&
        !(window->windowState() & Qt::WindowMaximized))
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
    inireadstring(QStringLiteral("Diverse"), extra);
    inisection = kept;
    closeuserini();
    return 0;
}

// ---- User and machine information ----

namespace {

const QString ParametersKey =
    QStringLiteral("System\\CurrentControlSet\\Services\\TCPIP\\Parameters");

// Where only text is expected, anything else reads as nothing.
QString readText(const registry::Registry &reg, const QString &name)
{
    try {
        return reg.readString(name);
    } catch (const registry::RegistryError &) {
        return {};
    }
}

QString readAddress(const registry::Registry &reg, const QString &name)
{
    try {
        return reg.readString(name);
    } catch (const registry::RegistryError &) {
        return QStringLiteral("0.0.0.0");
    }
}

bool usable(const QString &address)
{
    return !address.isEmpty() && address != QLatin1String("0.0.0.0");
}

} // namespace

QString getusername()
{
    // A name that is no plain file name could put the per-user file anywhere; the start-up
    // has already refused such a "--user" value out loud, a logon name falls back quietly.
    if (cacheduser.isEmpty()) {
        cacheduser = validusername(userparam) ? userparam : getlogonuser();
        if (!validusername(cacheduser)) cacheduser = QStringLiteral("BRUKER");
    }
    return platform::upperCase(cacheduser);
}

namespace {
constexpr qsizetype MaxFileNameLength = 255;
} // namespace

bool validusername(const QString &name)
{
    if (name.isEmpty() || name.contains(QLatin1String(".."))) return false;
    for (const QChar c : name)
        if (c.unicode() < 32 || QStringView(u"/\\<>:\"|?*").contains(c)) return false;
    // "CON.INI" or "LPT1.INI" would be a device on Windows, whatever follows the first dot.
    static const QStringList devices{
        QStringLiteral("CON"),  QStringLiteral("PRN"),  QStringLiteral("AUX"),
        QStringLiteral("NUL"),  QStringLiteral("COM1"), QStringLiteral("COM2"),
        QStringLiteral("COM3"), QStringLiteral("COM4"), QStringLiteral("COM5"),
        QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8"),
        QStringLiteral("COM9"), QStringLiteral("LPT1"), QStringLiteral("LPT2"),
        QStringLiteral("LPT3"), QStringLiteral("LPT4"), QStringLiteral("LPT5"),
        QStringLiteral("LPT6"), QStringLiteral("LPT7"), QStringLiteral("LPT8"),
        QStringLiteral("LPT9")};
    const QString stem = platform::upperCase(name.section(u'.', 0, 0)).trimmed();
    if (devices.contains(stem)) return false;
    // The per-user file's name must fit in one name of a folder (255 characters on Windows, 255
    // bytes here), or its every write-back would fail.
    const QString file = platform::upperCase(name) + QStringLiteral(".INI");
    return file.size() <= MaxFileNameLength && QFile::encodeName(file).size() <= MaxFileNameLength;
}

QString getlogonuser()
{
    registry::Registry reg;
    if (reg.openKey(QStringLiteral("Network\\Logon")))
        return readText(reg, QStringLiteral("Username"));
    return platform::env(QStringLiteral("USERNAME"));
}

QString getcomputername()
{
    registry::Registry reg;
    reg.openKey(QStringLiteral("System\\CurrentControlSet\\Control\\ComputerName\\ComputerName"));
    return readText(reg, QStringLiteral("ComputerName"));
}

QString getdomain()
{
    registry::Registry reg;
    reg.openKey(ParametersKey);
    const QString domain = readText(reg, QStringLiteral("Domain"));
    return domain.isEmpty() ? readText(reg, QStringLiteral("DhcpDomain")) : domain;
}

QString getipaddress()
{
    if (!ipparam.isEmpty()) return ipparam;
    if (getdomain().isEmpty()) return {};
    const QString interfaces = ParametersKey + QStringLiteral("\\Interfaces");
    registry::Registry reg;
    reg.openKey(interfaces);
    const QStringList names = reg.subkeyNames();
    reg.closeKey();
    for (const QString &name : names) {
        reg.openKey(interfaces + u'\\' + name);
        QString address = readAddress(reg, QStringLiteral("DhcpIPAddress"));
        if (!usable(address)) address = readAddress(reg, QStringLiteral("IPAddress"));
        if (usable(address)) return address;
        reg.closeKey();
    }
    return QStringLiteral("0.0.0.0");
}

QString getspooldir()
{
    registry::Registry reg;
    reg.openKey(QStringLiteral("System\\CurrentControlSet\\Control\\Print\\Printers"));
    return readText(reg, QStringLiteral("DefaultSpoolDirectory"));
}

QString gettempdir()
{
    return platform::env(QStringLiteral("TEMP"));
}

void logloginfo()
{
    const QString user = getlogonuser();
    const QString computer = getcomputername();
    const QString domain = getdomain();
    const QString address = getipaddress();
    writelog(QStringLiteral("LOGIN: ") + user + QStringLiteral("  node: ") + computer + u'.' +
             domain + QStringLiteral(" IP:") + address);
}

// ---- Temporary-file cleanup ----

namespace {

// The folder that the running cleanfolder call empties: everything below it goes, it stays.
QString cleanroot;

bool upperContains(const QString &path, QLatin1String word)
{
    return platform::upperCase(path).contains(word);
}

} // namespace

void deletetempfiles(bool alsoSystem)
{
    writelog(QStringLiteral("Sletter midlertidige filer opprettet av Kalvenor programmer"));
    const QString p = kalvenorpath(QStringLiteral("tmp"));
    if (p.size() > 3 && upperContains(p, QLatin1String("TMP"))) cleanfolder(p);
    if (!alsoSystem) return;

    const QString t = gettempdir() + platform::separator();
    if (t.size() > 3 && upperContains(t, QLatin1String("TEMP"))) {
        writelog(QStringLiteral("Sletter midlertidige filer i Windows"));
        cleanfolder(t);
        // The system's temporary folder has no word of its own to guard it, so it is emptied
        // only together with the user's.
        cleanfolder(platform::env(QStringLiteral("WINDIR")) +
                    platform::nativeName(QStringLiteral("\\temp\\")));
    }

    const QString s = getspooldir();
    if (upperContains(s, QLatin1String("SPOOL"))) {
        writelog(QStringLiteral("Sletter skriverkøer"));
        cleanfolder(s);
    }
}

void cleanfolder(const QString &folder)
{
    if (folder.isEmpty()) return;
    const QString path = withSeparator(folder);
    if (path.size() <= 6 || !platform::dirExists(path)) return;
    cleanroot = path;
    deletefolderfiles(path);
    cleanroot.clear();
}

void deletefolderfiles(const QString &folder)
{
    platform::ui().setBusyCursor(true);
    if (verbose) writelog(QStringLiteral("Sletter mappen ") + folder);

    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &entry : entries) {
        const QString path = folder + entry.fileName();
        if (entry.isDir() && !entry.isSymLink()) {
            // The listing may be stale by now: a folder swapped for a link since must not have
            // its target emptied, so it is looked at afresh and left where it turned into one.
            if (platform::isLink(path)) {
                writelog(QStringLiteral("FEIL: kan ikke slette mappen ") + path +
                         platform::separator());
                continue;
            }
            deletefolderfiles(path + platform::separator());
            continue;
        }
        // A link goes as a link, whatever it points at: the cleanup never reaches beyond the
        // folder it cleans. Only the name is removed, read-only or not, so no mode changes: a
        // hard link shares its mode with a file that may lie outside the folder.
        const bool link = entry.isSymLink();
        if (verbose) writelog(QStringLiteral("Sletter ") + path);
        const int err = link && entry.isDir() ? platform::removeDir(path)
                                              : platform::removeName(path);
        if (err) writelog(QStringLiteral("FEIL: kan ikke slette filen ") + path);
    }

    if (folder != cleanroot && platform::removeDir(folder) != 0)
        writelog(QStringLiteral("FEIL: kan ikke slette mappen ") + folder);
    platform::ui().setBusyCursor(false);
}

// ---- Start-up and shut-down ----

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
           QStringLiteral("\" kan ikke brukes: et brukernavn kan ikke inneholde / \\ .. "
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

// A settings file in the working folder wins over the user's own; the stamps reach the disk
// with the first write-back.
void openSettingsStore()
{
    const QString userEtc =
        platform::appDataFolder() + platform::nativeName(QStringLiteral("\\Kalvenor\\etc\\"));
    etcpath = platform::fileExists(QDir::current().absoluteFilePath(IniFileName))
                  ? withSeparator(QDir::currentPath())
                  : userEtc;
    if (!platform::dirExists(etcpath)) {
        etcpath = userEtc;
        platform::makePath(etcpath, true);
    }
    ininame = QDir::cleanPath(QFileInfo(etcpath + IniFileName).absoluteFilePath());
    etcpath = withSeparator(QFileInfo(ininame).absolutePath());
    const bool isNew = !platform::fileExists(ininame);
    delete inifile;
    inifile = new IniDocument(ininame);
    stampSettings(isNew);
}

void recordSettingsFolder()
{
    setfolder(QStringLiteral("etc"), etcpath);
}

// The tree is built on the first run, that is while its "data" folder is missing.
void buildFolderTree(bool install)
{
    const QString data = baseFolder() + QStringLiteral("data");
    if (install || !platform::dirExists(data)) makefoldertree();
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
void useLogFolder()
{
    logpath(logfolder);
}

void writeSettingsAtShutdown()
{
    closeuserini(); // a per-user bracket left open must not leave the main file unwritten
    if (inifile) {
        // The one line this failure gets is the crash line below, so the document is written
        // directly rather than through writeBack, whose own line would count as an error.
        bool ok = true;
        if (!platform::isReadOnly(ininame)) ok = inifile->updateFile() == 0;
        delete inifile;
        inifile = nullptr;
        if (!ok) writelog(QStringLiteral("INI-CRASH i HS_REG.PAS: ") + ininame);
        if (verbose) {
            if (platform::isReadOnly(ininame))
                writelog(readOnlyLine(ininame));
            else
                writelog(QStringLiteral("Oppdaterer ") + ininame);
        }
    }
}

void resetUnitState()
{
    delete mainDocument;
    mainDocument = nullptr;
    mainOnDisk = false;
    failingFiles.clear();
    readOnlyWarned.clear();
    delete inifile;
    inifile = nullptr;
    ininame = IniFileName;
    etcpath.clear();
    inisection = StandardSection;
    userparam.clear();
    ipparam.clear();
    cacheduser.clear();
}

} // namespace

void hs_regInitialization(const QStringList &arguments)
{
    const bool install = readCommandLine(arguments);
    const QString refusedUser = refuseBadUserName();
    if (!refusedUser.isEmpty())
        platform::ui().message(QStringLiteral("FEIL"), refusedUserText(refusedUser),
                               platform::Icon::Error);
    openSettingsStore();
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
