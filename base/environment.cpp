// environment: what the process finds around it (environment variables, its own path, the
// application-data folder, the form of path names), and the two hooks, replaced by tests, that
// the platform layer reports and tells the time through.
#include "environment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <unistd.h>

namespace platform {

QString env(const QString &name) { return qEnvironmentVariable(name.toLocal8Bit().constData()); }

QString programFilePath()
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return QCoreApplication::applicationFilePath();
    return QFile::decodeName(QByteArray(buffer, n));
}

QString appDataFolder()
{
    QString folder = env(QStringLiteral("APPDATA"));
    if (folder.isEmpty()) folder = env(QStringLiteral("XDG_DATA_HOME"));
    if (folder.isEmpty()) folder = QDir::homePath() + QStringLiteral("/.local/share");
    while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    return folder;
}

QChar separator() { return u'/'; }

QString nativeName(const QString &name)
{
    QString out = name;
    out.replace(u'\\', u'/');
    return out;
}

namespace {
std::function<void(const QString &)> &noticeSink()
{
    static std::function<void(const QString &)> sink;
    return sink;
}
} // namespace

void notice(const QString &line)
{
    if (noticeSink()) noticeSink()(line);
}

void setNoticeSink(std::function<void(const QString &)> sink) { noticeSink() = std::move(sink); }

namespace {
std::function<QDateTime()> &clock()
{
    static std::function<QDateTime()> c;
    return c;
}
} // namespace

QDateTime now() { return clock() ? clock()() : QDateTime::currentDateTime(); }

void setClock(std::function<QDateTime()> c) { clock() = std::move(c); }

} // namespace platform
