// folders: the program folders: their lookup through the settings, and the folder tree.
#include "folders.h"

#include "hs_regshared.h"
#include "inifile.h"
#include "platform.h"
#include "settings.h"
#include "textfil.h"

#include <QDir>

using namespace hsreg;

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

namespace {

const char *const Tree[] = {
    "archive",     "backup",      "data",        "data\\quarvel", "data\\dobrin",
    "data\\zq4",   "data\\docs",  "data\\tfm",   "etc",           "export",
    "export\\xml", "export\\pdf", "export\\csv", "export\\html",  "export\\html\\varer",
    "import",      "images",      "spool",       "tmp",           "xml",
    "log",         "maler",       "maler\\docs", "maler\\zq4",
};

QString recorded(const QString &name)
{
    const QString kept = inisection;
    inisection = FoldersSection;
    const QString path = inireadstring(name + QStringLiteral("_folder"));
    inisection = kept;
    return path;
}

} // namespace

void makefoldertree()
{
    QString bin;
    binpath(bin);
    setfolder(QStringLiteral("doc"),
              QDir::cleanPath(QDir(bin).absoluteFilePath(QStringLiteral("../doc"))));
    const QString root = baseFolder();
    platform::makePath(root);
    for (const char *entry : Tree) {
        const QString name = QString::fromLatin1(entry);
        const QString folder = root + platform::nativeName(name);
        mkdirsafe(folder, ownerOnly(name));
        setfolder(name, folder);
    }
}

// A first start cut short leaves the tree part-made: what is still missing is made, and recorded
// where it has no record yet. A folder recorded elsewhere, and every record there is, stays.
void completefoldertree()
{
    const QString root = baseFolder();
    for (const char *entry : Tree) {
        const QString name = QString::fromLatin1(entry);
        QString folder = recorded(name);
        const bool unrecorded = folder.isEmpty();
        if (unrecorded) folder = root + platform::nativeName(name);
        if (folder.size() > 1 && folder.endsWith(platform::separator())) folder.chop(1);
        if (platform::dirExists(folder) || !folder.contains(root)) continue;
        mkdirsafe(folder, ownerOnly(name));
        if (unrecorded) setfolder(name, folder);
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
