// Test support: a recorder in place of the user interface, and a sandbox with its own
// application-data and working folders.
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

RecordingUi::RecordingUi() { platform::setUserInterface(this); }

RecordingUi::~RecordingUi() { platform::setUserInterface(nullptr); }

void RecordingUi::message(const QString &caption, const QString &text, platform::Icon icon)
{
    messages.append({caption, text, icon});
}

void RecordingUi::setBusyCursor(bool busy) { cursor.append(busy); }

void RecordingUi::shellOpen(const QString &file, const QString &, const QString &)
{
    opened.append(file);
}

QStringList RecordingUi::texts() const
{
    QStringList out;
    for (const RecordedMessage &m : messages) out.append(m.text);
    return out;
}

void RecordingUi::clear()
{
    messages.clear();
    cursor.clear();
    opened.clear();
}

Sandbox::Sandbox()
    : m_oldAppdata(qgetenv("APPDATA")), m_hadAppdata(qEnvironmentVariableIsSet("APPDATA")),
      m_oldCwd(QDir::currentPath())
{
    qputenv("APPDATA", QFile::encodeName(m_appdata.path()));
    QDir::setCurrent(m_work.path());
}

Sandbox::~Sandbox()
{
    QDir::setCurrent(m_oldCwd);
    if (m_hadAppdata)
        qputenv("APPDATA", m_oldAppdata);
    else
        qunsetenv("APPDATA");
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
    return f.readAll();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray hostileLineEnd(const QString &kind)
{
    if (kind == u"64 MiB of LF") return "\n";
    if (kind == u"64 MiB of CR") return "\r";
    if (kind == u"64 MiB of CR LF") return "\r\n";
    return {};
}

bool makeHostileFile(const QString &path, const QString &kind)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray name = QFile::encodeName(path);
    if (kind == u"fifo") return ::mkfifo(name.constData(), 0644) == 0;
    if (kind == u"zero") return ::symlink("/dev/zero", name.constData()) == 0;
    if (kind == u"folder") return QDir().mkpath(path);
    if (kind == u"oversized") {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.resize(platform::MaxTextFileSize + 1);
    }
    if (kind == u"linefeeds") { // small, but a million and one empty lines
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(QByteArray(1'000'001, '\n')) == 1'000'001;
    }
    if (const QByteArray end = hostileLineEnd(kind); !end.isEmpty()) { // as large as is read
        QFile f(path);
        const QByteArray block = end.repeated(int(65536 / end.size()));
        if (!f.open(QIODevice::WriteOnly)) return false;
        for (std::int64_t left = platform::MaxTextFileSize; left > 0; left -= block.size())
            if (f.write(block) != block.size()) return false;
        return true;
    }
    return false;
}

bool isHostileFile(const QString &path, const QString &kind)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return false;
    if (kind == u"fifo") return S_ISFIFO(st.st_mode);
    if (kind == u"zero")
        return S_ISLNK(st.st_mode) && QFileInfo(path).symLinkTarget() == "/dev/zero";
    if (kind == u"folder") return S_ISDIR(st.st_mode);
    if (kind == u"oversized")
        return S_ISREG(st.st_mode) && st.st_size == platform::MaxTextFileSize + 1;
    if (kind == u"linefeeds") return S_ISREG(st.st_mode) && st.st_size == 1'000'001;
    if (!hostileLineEnd(kind).isEmpty())
        return S_ISREG(st.st_mode) && st.st_size == platform::MaxTextFileSize;
    return false;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

SmallDisk::SmallDisk(const QString &folder, int inodes) : m_folder(folder)
{
    QDir().mkpath(folder);
    const QByteArray options = "size=64k,nr_inodes=" + QByteArray::number(inodes);
    m_mounted = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0,
                        options.constData()) == 0;
}

SmallDisk::~SmallDisk()
{
    if (m_mounted) ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

bool SmallDisk::fill(const QString &name)
{
    QFile f(m_folder + u'/' + name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
    const QByteArray block(4096, 'f');
    while (f.write(block) == block.size()) {
    }
    // The last, partly written block leaves a few bytes at most.
    while (f.write("f", 1) == 1) {
    }
    return true;
}

void pinNorwegianLocale()
{
    QLocale::setDefault(QLocale(QLocale::NorwegianBokmal, QLocale::Norway));
}
