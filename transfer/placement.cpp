// placement: how a downloaded file takes the local file's place.
#include "placement.h"

#include "Felles.h"
#include "platform.h"
#include "textfil.h"

#include <QFileInfo>

namespace placement {

namespace {

std::function<int(const QString &, const QString &)> &renamer()
{
    static std::function<int(const QString &, const QString &)> rename;
    return rename;
}

int renameName(const QString &from, const QString &to)
{
    return renamer() ? renamer()(from, to) : platform::renameFile(from, to);
}

// Whether two names stand for one file: the same text, or the same file through links.
bool sameFile(const QString &a, const QString &b)
{
    if (a == b) return true;
    const QFileInfo first(a);
    const QFileInfo second(b);
    return first.exists() && second.exists() &&
           first.canonicalFilePath() == second.canonicalFilePath();
}

// Only a file is replaced, and a mode is taken from a file only; a first download's file gets
// the mode of any new file.
bool replaceable(const QString &local, unsigned &mode)
{
    const int kind = platform::regularFileMode(local, mode);
    if (kind == platform::ErrFileNotFound) mode = platform::newFileMode();
    return kind == platform::NoError || kind == platform::ErrFileNotFound;
}

QString notAFile(const QString &local)
{
    return QStringLiteral("FTP: Feil nr. 500, ") + local +
           QStringLiteral(" er ikke en vanlig fil og blir ikke erstattet.");
}

QString renamed(const QString &from, const QString &to)
{
    return QStringLiteral("FTP: endret navn på ") + from + QStringLiteral(" til ") + to;
}

} // namespace

QString folderPart(const QString &path)
{
    return path.left(path.lastIndexOf(platform::separator()) + 1);
}

QString filePart(const QString &path)
{
    return path.mid(path.lastIndexOf(platform::separator()) + 1);
}

QString besideFile(const QString &path, const QString &extension)
{
    return folderPart(path) + newext(filePart(path), extension);
}

void setRename(std::function<int(const QString &, const QString &)> rename)
{
    renamer() = std::move(rename);
}

Download::Download(const QString &local)
    : m_local(local), m_temporary(besideFile(local, QStringLiteral("tmp"))),
      m_old(besideFile(local, QStringLiteral("old")))
{
}

Download::~Download()
{
    if (m_file != platform::NoFile) platform::closeFile(m_file);
}

QString Download::notRetrieved() const
{
    return QStringLiteral("FTP: Feil nr. 500, kan ikke laste ned filen ") + m_local +
           QStringLiteral(". Sjekk at filen ikke er i bruk.");
}

QString Download::prepare()
{
    // A name that newext leaves as it is ("liste.tmp", "liste.old") makes the temporary or the
    // old file the local file itself, which would be written over or deleted.
    if (sameFile(m_temporary, m_local) || sameFile(m_old, m_local)) return notRetrieved();
    unsigned mode = 0;
    if (!replaceable(m_local, mode)) return notAFile(m_local);
    // A file left from before is the program's own, whatever its mode, and whoever still reads
    // it keeps what it held: the new bytes go into a file of their own, never through a link.
    platform::removeName(m_temporary);
    if (platform::openFile(m_temporary, platform::OpenMode::CreatePrivate, m_file))
        return notRetrieved();
    return QString();
}

bool Download::written(std::int64_t size) const
{
    std::int64_t bytes = -1;
    return platform::isSoleName(m_temporary, m_file) &&
           platform::fileSize(m_file, bytes) == platform::NoError && bytes == size;
}

int Download::refuse(const QString &line) const
{
    writelog(line);
    return 500;
}

int Download::place(std::int64_t size)
{
    // The bytes were counted as they came; a file at the temporary name that is not the one
    // written, or holds another count or another name, is not this download.
    if (!written(size))
        return refuse(QStringLiteral("FTP: Feil nr. 500, den midlertidige filen ") + m_temporary +
                      QStringLiteral(" ble endret eller tatt i bruk etter nedlastingen. ") +
                      m_local + QStringLiteral(" er ikke erstattet."));
    if (size <= 0) return 0;
    unsigned mode = 0;
    if (!replaceable(m_local, mode)) return refuse(notAFile(m_local));
    removeOld();
    const bool moved = takeName(m_local, m_old);
    if (takeLocalName(mode)) return 0;
    writelog(QStringLiteral("FTP: Feil nr. 500, kan ikke endre navn på ") + m_temporary +
             QStringLiteral(" til ") + m_local + QStringLiteral(". Den nye filen ligger i ") +
             m_temporary + u'.');
    if (moved && !takeName(m_old, m_local))
        writelog(QStringLiteral("FTP: kan ikke gi ") + m_old + QStringLiteral(" tilbake navnet ") +
                 m_local + QStringLiteral(". Den lokale filen ligger i ") + m_old + u'.');
    return 500;
}

void Download::removeOld() const
{
    // The old copy is the program's own: its read-only mark, copied from the local file, does
    // not keep it.
    if (platform::removeName(m_old) == platform::NoError)
        writelog(QStringLiteral("FTP: slettet midlertidig fil: ") + m_old);
}

bool Download::takeName(const QString &from, const QString &to) const
{
    if (renameName(from, to) != platform::NoError) return false;
    writelog(renamed(from, to));
    return true;
}

bool Download::takeLocalName(unsigned mode) const
{
    // As open to others as the file it replaces, a first one as any new file, but only once it
    // takes the name: until then, and again if it cannot, it is its owner's alone.
    platform::setFileMode(m_file, mode);
    if (takeName(m_temporary, m_local)) return true;
    platform::setFileMode(m_file, 0600);
    return false;
}

} // namespace placement
