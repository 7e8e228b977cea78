// machine: facts about the user and the machine: the user name and its check, the logon
// name, computer, domain, address and system folders, and their line in the log.
#include "machine.h"

#include "platform.h"
#include "registry.h"
#include "textfil.h"

#include <QFile>
#include <QStringList>

namespace {

const QString ParametersKey =
    QStringLiteral("System\\CurrentControlSet\\Services\\TCPIP\\Parameters");

// Where only text is expected, anything else reads as nothing.
QString readText(const registry::Registry &reg, const QString &name)
{
    try {
        return reg.readString(name);
    } catch (const registry::RegistryError &) {
        return {};
    }
}

QString readAddress(const registry::Registry &reg, const QString &name)
{
    try {
        return reg.readString(name);
    } catch (const registry::RegistryError &) {
        return QStringLiteral("0.0.0.0");
    }
}

bool usable(const QString &address)
{
    return !address.isEmpty() && address != QLatin1String("0.0.0.0");
}

} // namespace

QString getusername()
{
    // A name that is no plain file name could put the per-user file anywhere; the start-up
    // has already refused such a "--user" value out loud, a logon name falls back quietly.
    if (cacheduser.isEmpty()) {
        cacheduser = validusername(userparam) ? userparam : getlogonuser();
        if (!validusername(cacheduser)) cacheduser = QStringLiteral("BRUKER");
    }
    return platform::upperCase(cacheduser);
}

namespace {
constexpr qsizetype MaxFileNameLength = 255;
} // namespace

bool validusername(const QString &name)
{
    if (name.isEmpty() || name.contains(QLatin1String(".."))) return false;
    for (const QChar c : name)
        if (c.unicode() < 32 || QStringView(u"/\\<>:\"|?*").contains(c)) return false;
    // "CON.INI" or "LPT1.INI" would be a device on Windows, whatever follows the first dot.
    static const QStringList devices{
        QStringLiteral("CON"),  QStringLiteral("PRN"),  QStringLiteral("AUX"),
        QStringLiteral("NUL"),  QStringLiteral("COM1"), QStringLiteral("COM2"),
        QStringLiteral("COM3"), QStringLiteral("COM4"), QStringLiteral("COM5"),
        QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8"),
        QStringLiteral("COM9"), QStringLiteral("LPT1"), QStringLiteral("LPT2"),
        QStringLiteral("LPT3"), QStringLiteral("LPT4"), QStringLiteral("LPT5"),
        QStringLiteral("LPT6"), QStringLiteral("LPT7"), QStringLiteral("LPT8"),
        QStringLiteral("LPT9")};
    const QString stem = platform::upperCase(name.section(u'.', 0, 0)).trimmed();
    if (devices.contains(stem)) return false;
    // The per-user file's name must fit in one name of a folder (255 characters on Windows, 255
    // bytes here), or its every write-back would fail.
    const QString file = platform::upperCase(name) + QStringLiteral(".INI");
    return file.size() <= MaxFileNameLength && QFile::encodeName(file).size() <= MaxFileNameLength;
}

QString getlogonuser()
{
    registry::Registry reg;
    if (reg.openKey(QStringLiteral("Network\\Logon")))
        return readText(reg, QStringLiteral("Username"));
    return platform::env(QStringLiteral("USERNAME"));
}

QString getcomputername()
{
    registry::Registry reg;
    reg.openKey(QStringLiteral("System\\CurrentControlSet\\Control\\ComputerName\\ComputerName"));
    return readText(reg, QStringLiteral("ComputerName"));
}

QString getdomain()
{
    registry::Registry reg;
    reg.openKey(ParametersKey);
    const QString domain = readText(reg, QStringLiteral("Domain"));
    return domain.isEmpty() ? readText(reg, QStringLiteral("DhcpDomain")) : domain;
}

QString getipaddress()
{
    if (!ipparam.isEmpty()) return ipparam;
    if (getdomain().isEmpty()) return {};
    const QString interfaces = ParametersKey + QStringLiteral("\\Interfaces");
    registry::Registry reg;
    reg.openKey(interfaces);
    const QStringList names = reg.subkeyNames();
    reg.closeKey();
    for (const QString &name : names) {
        reg.openKey(interfaces + u'\\' + name);
        QString address = readAddress(reg, QStringLiteral("DhcpIPAddress"));
        if (!usable(address)) address = readAddress(reg, QStringLiteral("IPAddress"));
        if (usable(address)) return address;
        reg.closeKey();
    }
    return QStringLiteral("0.0.0.0");
}

QString getspooldir()
{
    registry::Registry reg;
    reg.openKey(QStringLiteral("System\\CurrentControlSet\\Control\\Print\\Printers"));
    return readText(reg, QStringLiteral("DefaultSpoolDirectory"));
}

QString gettempdir() { return platform::env(QStringLiteral("TEMP")); }

void logloginfo()
{
    const QString user = getlogonuser();
    const QString computer = getcomputername();
    const QString domain = getdomain();
    const QString address = getipaddress();
    writelog(QStringLiteral("LOGIN: ") + user + QStringLiteral("  node: ") + computer + u'.' +
             domain + QStringLiteral(" IP:") + address);
}
