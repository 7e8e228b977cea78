// hs_regshared: what the files of hs_reg share: the unit's fixed names and all its state
// (with the reset of it), the folder helpers, and the write-back of a settings document with
// the reporting of its failures.
#include "hs_regshared.h"

#include "inifile.h"
#include "machine.h"
#include "platform.h"
#include "settings.h"
#include "textfil.h"

#include <QFileInfo>

namespace hsreg {

const QString IniFileName = QStringLiteral("kalvenor.ini");
const QString IniVersion = QStringLiteral("5.36");
const QString StandardSection = QStringLiteral("STANDARD");
const QString FoldersSection = QStringLiteral("FOLDERS");

} // namespace hsreg

using namespace hsreg;

IniDocument *inifile = nullptr;
QString ininame = IniFileName;
QString etcpath;
QString inisection = StandardSection;

QString userparam;
QString ipparam;
QString cacheduser;

namespace hsreg {

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

// The settings hold the FTP password: those the program keeps are their owner's alone. A file
// found in the working folder is the user's to share as they choose, and keeps its mode.
int settingsFileMode(const QString &file)
{
    const QFileInfo info(file);
    const QString own = QFileInfo(baseFolder() + QStringLiteral("etc")).canonicalFilePath();
    const bool found = info.exists() && QFileInfo(info.absolutePath()).canonicalFilePath() != own;
    return found ? platform::KeepMode : 0600;
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
    const int err = doc.updateFile(settingsFileMode(doc.fileName()));
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

} // namespace hsreg
