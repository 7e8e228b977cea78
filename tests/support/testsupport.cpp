// Test support: a recorder in place of the user interface, and a sandbox with its own
// application-data and working folders.
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTest>

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

void pinNorwegianLocale() { QLocale::setDefault(QLocale(QLocale::NorwegianBokmal, QLocale::Norway)); }
