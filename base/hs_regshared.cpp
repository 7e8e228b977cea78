// hs_regshared: what the files of hs_reg share: the unit's fixed names and all its state
// (with the reset of it), and the folder helpers.
#include "hs_regshared.h"

#include "inifile.h"
#include "platform.h"
#include "settings.h"

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
    const QString folder = baseFolder() + QStringLiteral("etc");
    // Every write-back asks, and the program's own files are named by that folder as it is: the
    // same name resolves to the same folder, without a walk over its links.
    if (info.absolutePath() == folder) return 0600;
    const QString own = QFileInfo(folder).canonicalFilePath();
    const bool found = info.exists() && QFileInfo(info.absolutePath()).canonicalFilePath() != own;
    return found ? platform::KeepMode : 0600;
}

// Settings files whose last write-back failed: the failure is logged once, not at every later
// write-back that fails the same way, until the file has been written again.
QSet<QString> failingFiles;
// Per-user files found read-only in this run: each gets its one warning.
QStringList readOnlyWarned;

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
