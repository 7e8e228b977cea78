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
#include <QFileInfo>

#include <cstdio>

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
        if (!platform::isReadOnly(ininame)) ok = inifile->updateFile(settingsFileMode(ininame)) == 0;
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
