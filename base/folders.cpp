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
