// cleanup: temporary files removed: the program's own, the system's and the printer queues.
#include "cleanup.h"

#include "folders.h"
#include "hs_regshared.h"
#include "machine.h"
#include "platform.h"
#include "textfil.h"

#include <QDir>
#include <QFileInfo>

using namespace hsreg;

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
