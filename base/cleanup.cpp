// cleanup: temporary files removed: the program's own, the system's and the printer queues.
#include "cleanup.h"

#include "folders.h"
#include "hs_regshared.h"
#include "inifile.h"
#include "machine.h"
#include "platform.h"
#include "settings.h"
#include "textfil.h"

#include <QDir>
#include <QFile>

#include <utility>
#include <vector>

using namespace hsreg;

namespace {

// The folder that the running cleanfolder call empties, as given and as resolved: everything
// below it goes, it stays.
QString cleanroot;
QString cleanreal;
std::function<void(const QString &)> listedHook;

// Each level open below the root holds a handle; a tree deeper than this stays below it.
constexpr std::size_t MaxDepth = 256;

bool upperContains(const QString &path, QLatin1String word)
{
    return platform::upperCase(path).contains(word);
}

bool holds(const QString &outer, const QString &inner)
{
    return inner == outer ||
           inner.startsWith(outer.endsWith(u'/') ? outer : outer + platform::separator());
}

// What no cleanup may empty or hold: the program's base folder, the user's home, and every
// recorded folder but the one for temporary files, which is there to be emptied.
QStringList keptFolders()
{
    QStringList folders{baseFolder(), QDir::homePath()};
    if (inifile) {
        for (const QString &line : inifile->sectionLines(FoldersSection)) {
            const qsizetype eq = line.indexOf(u'=');
            if (eq <= 0 || platform::upperCase(line.left(eq)) == QLatin1String("TMP_FOLDER"))
                continue;
            folders.append(line.mid(eq + 1));
        }
    }
    QStringList resolved;
    for (const QString &folder : std::as_const(folders)) {
        const QString real = platform::resolvedPath(folder);
        if (!real.isEmpty()) resolved.append(real);
    }
    return resolved;
}

// The folder with ".", ".." and links resolved, when it may be emptied: its path with the
// separator is longer than 6 characters, it is a folder, its own name holds the word (when
// one is given), and it neither is nor holds a folder that must stay. Empty otherwise.
QString soundRoot(const QString &folder, QLatin1String word)
{
    if (folder.isEmpty()) return {};
    const QString path = withSeparator(folder);
    if (path.size() <= 6) return {};
    const QString real = platform::resolvedPath(path);
    if (real.isEmpty() || !platform::dirExists(real)) return {};
    if (word.size() > 0 &&
        !upperContains(real.mid(real.lastIndexOf(platform::separator()) + 1), word))
        return {};
    const QStringList kept = keptFolders();
    for (const QString &other : kept)
        if (holds(real, other)) return {};
    return real;
}

void emptyRoot(const QString &shown, const QString &real)
{
    if (real.isEmpty()) return;
    cleanroot = withSeparator(shown);
    cleanreal = real;
    deletefolderfiles(cleanroot);
    cleanroot.clear();
    cleanreal.clear();
}

// One folder of the walk, open by its handle, so that what is removed in it is looked up in
// that folder and never again through a path that another process may have changed.
struct Level {
    platform::FolderHandle handle = platform::NoFolder;
    QByteArray name; // in the level above
    QString path;    // as logged, ending in the separator
    QList<QByteArray> names;
    QList<platform::EntryKind> kinds; // as listed
    qsizetype next = 0;
};

void enterLevel(std::vector<Level> &levels, platform::FolderHandle handle, QByteArray name,
                QString path)
{
    platform::ui().setBusyCursor(true);
    if (verbose) writelog(QStringLiteral("Sletter mappen ") + path);
    Level level{handle, std::move(name), std::move(path), {}, {}, 0};
    platform::listFolder(handle, level.names);
    for (const QByteArray &entry : std::as_const(level.names))
        level.kinds.append(platform::entryKind(handle, entry));
    levels.push_back(std::move(level));
    if (listedHook) listedHook(levels.back().path);
}

void leaveLevel(std::vector<Level> &levels)
{
    const Level done = std::move(levels.back());
    levels.pop_back();
    platform::closeFolder(done.handle);
    if (!levels.empty() && platform::removeSubfolder(levels.back().handle, done.name) != 0)
        writelog(QStringLiteral("FEIL: kan ikke slette mappen ") + done.path);
    platform::ui().setBusyCursor(false);
}

} // namespace

void deletetempfiles(bool alsoSystem)
{
    writelog(QStringLiteral("Sletter midlertidige filer opprettet av Kalvenor programmer"));
    const QString p = kalvenorpath(QStringLiteral("tmp"));
    if (p.size() > 3) emptyRoot(p, soundRoot(p, QLatin1String("TMP")));
    if (!alsoSystem) return;

    const QString t = gettempdir() + platform::separator();
    const QString temp = t.size() > 3 ? soundRoot(t, QLatin1String("TEMP")) : QString();
    if (!temp.isEmpty()) {
        writelog(QStringLiteral("Sletter midlertidige filer i Windows"));
        emptyRoot(t, temp);
        // The system's temporary folder has no word of its own in its path, so it is emptied
        // only together with the user's.
        const QString w = platform::env(QStringLiteral("WINDIR")) +
                          platform::nativeName(QStringLiteral("\\temp\\"));
        emptyRoot(w, soundRoot(w, QLatin1String("TEMP")));
    }

    const QString s = getspooldir();
    const QString spool = soundRoot(s, QLatin1String("SPOOL"));
    if (!spool.isEmpty()) {
        writelog(QStringLiteral("Sletter skriverkøer"));
        emptyRoot(s, spool);
    }
}

void cleanfolder(const QString &folder) { emptyRoot(folder, soundRoot(folder, QLatin1String())); }

void deletefolderfiles(const QString &folder)
{
    if (folder.isEmpty() || folder != cleanroot) return;
    // Opened along the resolved path, which holds no link: one put on it since the guards
    // looked makes the open fail, and nothing is emptied.
    platform::FolderHandle root = platform::NoFolder;
    if (platform::openFolder(cleanreal, root) != 0) return;

    std::vector<Level> levels;
    enterLevel(levels, root, {}, folder);
    while (!levels.empty()) {
        Level &level = levels.back();
        if (level.next == level.names.size()) {
            leaveLevel(levels);
            continue;
        }
        const qsizetype i = level.next++;
        const QByteArray name = level.names[i];
        const QString path = level.path + QFile::decodeName(name);
        if (level.kinds[i] == platform::EntryKind::Missing) continue;
        if (level.kinds[i] == platform::EntryKind::Folder) {
            // A folder listed as one and a link or anything else by now stays where it is.
            platform::FolderHandle sub = platform::NoFolder;
            if (levels.size() > MaxDepth || platform::openSubfolder(level.handle, name, sub) != 0) {
                writelog(QStringLiteral("FEIL: kan ikke slette mappen ") + path +
                         platform::separator());
                continue;
            }
            enterLevel(levels, sub, name, path + platform::separator());
            continue;
        }
        // A link goes as a link, whatever it points at. Only the name is removed, read-only or
        // not, so no mode changes: a hard link shares its mode with a file that may lie
        // outside the folder.
        if (verbose) writelog(QStringLiteral("Sletter ") + path);
        if (platform::removeEntry(level.handle, name) != 0)
            writelog(QStringLiteral("FEIL: kan ikke slette filen ") + path);
    }
}

void setFolderListedHook(std::function<void(const QString &)> hook)
{
    listedHook = std::move(hook);
}
