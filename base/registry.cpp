// registry: the machine's configuration tree as the base library reads it, with the Linux view
// of the machine's own facts.
#include "registry.h"

#include <QFile>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace registry {

namespace {

QString normalPath(const QString &path)
{
    qsizetype start = 0;
    qsizetype end = path.size();
    while (start < end && path[start] == u'\\') ++start;
    while (end > start && path[end - 1] == u'\\') --end;
    return path.sliced(start, end - start);
}

bool samePath(const QString &a, const QString &b)
{
    return QString::compare(normalPath(a), normalPath(b), Qt::CaseInsensitive) == 0;
}

QString hostName()
{
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
    return QString::fromLocal8Bit(buffer);
}

// The domain the DHCP client (or the administrator) put into the resolver's configuration.
QString resolverDomain()
{
    QFile f(QStringLiteral("/etc/resolv.conf"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QString search;
    while (!f.atEnd()) {
        const QStringList words =
            QString::fromLocal8Bit(f.readLine()).simplified().split(u' ', Qt::SkipEmptyParts);
        if (words.size() < 2) continue;
        if (words[0] == QLatin1String("domain")) return words[1];
        if (words[0] == QLatin1String("search") && search.isEmpty()) search = words[1];
    }
    return search;
}

QString logonUser()
{
    char buffer[256] = {};
    if (::getlogin_r(buffer, sizeof buffer - 1) == 0 && buffer[0])
        return QString::fromLocal8Bit(buffer);
    if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return {};
}

const QString interfacesKey =
    QStringLiteral("System\\CurrentControlSet\\Services\\TCPIP\\Parameters\\Interfaces");

void addInterfaces(MemoryRegistry &reg)
{
    reg.addKey(interfacesKey);
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0) return;
    for (const ifaddrs *a = list; a; a = a->ifa_next) {
        // The loopback interface is no network interface to the registry either.
        if (!a->ifa_name || (a->ifa_flags & IFF_LOOPBACK)) continue;
        const QString key = interfacesKey + u'\\' + QString::fromLocal8Bit(a->ifa_name);
        reg.addKey(key);
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        if (reg.value(key, QStringLiteral("IPAddress"))) continue; // the first address counts
        char text[INET_ADDRSTRLEN] = {};
        const auto *in = reinterpret_cast<const sockaddr_in *>(a->ifa_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
            reg.setValue(key, QStringLiteral("IPAddress"),
                         Value::fromText(QString::fromLatin1(text)));
    }
    ::freeifaddrs(list);
}

class MachineSource final : public Source {
  public:
    bool openKey(const QString &path) override { return machineFacts(path).openKey(path); }
    std::optional<Value> value(const QString &path, const QString &name) const override
    {
        return machineFacts(path).value(path, name);
    }
    QStringList subkeys(const QString &path) const override
    {
        return machineFacts(path).subkeys(path);
    }
};

Source &machineSource()
{
    static MachineSource machine;
    return machine;
}

Source *&current()
{
    static Source *s = &machineSource();
    return s;
}

} // namespace

RegistryError::RegistryError(const QString &message) : std::runtime_error(message.toStdString()) {}

// ---- MemoryRegistry ----

int MemoryRegistry::find(const QString &path) const
{
    for (int i = 0; i < m_keys.size(); ++i)
        if (samePath(m_keys[i].path, path)) return i;
    return -1;
}

void MemoryRegistry::addKey(const QString &path)
{
    const QString p = normalPath(path);
    if (p.isEmpty() || find(p) >= 0) return;
    const qsizetype slash = p.lastIndexOf(u'\\');
    if (slash > 0) addKey(p.left(slash));
    m_keys.append({p, {}});
}

void MemoryRegistry::setValue(const QString &path, const QString &name, const Value &value)
{
    addKey(path);
    Key &key = m_keys[find(path)];
    for (auto &[n, v] : key.values) {
        if (QString::compare(n, name, Qt::CaseInsensitive) == 0) {
            v = value;
            return;
        }
    }
    key.values.append({name, value});
}

bool MemoryRegistry::openKey(const QString &path) { return find(path) >= 0; }

std::optional<Value> MemoryRegistry::value(const QString &path, const QString &name) const
{
    const int i = find(path);
    if (i < 0) return std::nullopt;
    for (const auto &[n, v] : m_keys[i].values)
        if (QString::compare(n, name, Qt::CaseInsensitive) == 0) return v;
    return std::nullopt;
}

QStringList MemoryRegistry::subkeys(const QString &path) const
{
    const QString parent = normalPath(path);
    QStringList names;
    for (const Key &key : m_keys) {
        const qsizetype slash = key.path.lastIndexOf(u'\\');
        const QString keyParent = slash < 0 ? QString() : key.path.left(slash);
        if (QString::compare(keyParent, parent, Qt::CaseInsensitive) == 0)
            names.append(key.path.sliced(slash + 1));
    }
    return names;
}

MemoryRegistry machineFacts(const QString &path)
{
    // The user's name is looked up at every start: it need not wait for the network's facts.
    const QString asked = normalPath(path);
    const auto needed = [&asked](const QString &key) {
        const auto under = [](const QString &inner, const QString &outer) {
            return inner.size() > outer.size() && inner[outer.size()] == u'\\' &&
                   inner.startsWith(outer, Qt::CaseInsensitive);
        };
        return asked.isEmpty() || samePath(asked, key) || under(asked, key) || under(key, asked);
    };
    MemoryRegistry reg;
    const QString computerName =
        QStringLiteral("System\\CurrentControlSet\\Control\\ComputerName\\ComputerName");
    const QString parameters =
        QStringLiteral("System\\CurrentControlSet\\Services\\TCPIP\\Parameters");
    if (needed(computerName) || needed(parameters)) {
        const QString host = hostName();
        const qsizetype dot = host.indexOf(u'.');
        reg.setValue(computerName, QStringLiteral("ComputerName"), Value::fromText(host.left(dot)));
        if (needed(parameters)) {
            reg.addKey(parameters);
            if (dot > 0 && dot + 1 < host.size())
                reg.setValue(parameters, QStringLiteral("Domain"),
                             Value::fromText(host.sliced(dot + 1)));
            if (const QString dhcp = resolverDomain(); !dhcp.isEmpty())
                reg.setValue(parameters, QStringLiteral("DhcpDomain"), Value::fromText(dhcp));
            addInterfaces(reg);
        }
    }

    const QString logon = QStringLiteral("Network\\Logon");
    if (!needed(logon)) return reg;
    if (const QString user = logonUser(); !user.isEmpty())
        reg.setValue(logon, QStringLiteral("Username"), Value::fromText(user));
    return reg;
}

Source &source() { return *current(); }

void setSource(Source *s) { current() = s ? s : &machineSource(); }

// ---- Registry ----

bool Registry::openKey(const QString &path)
{
    closeKey();
    m_open = source().openKey(path);
    if (m_open) m_path = normalPath(path);
    return m_open;
}

void Registry::closeKey()
{
    m_open = false;
    m_path.clear();
}

QString Registry::readString(const QString &name) const
{
    if (!m_open) return {};
    const std::optional<Value> v = source().value(m_path, name);
    if (!v) return {};
    switch (v->type) {
    case ValueType::Text:
    case ValueType::ExpandText: {
        const qsizetype nul = v->text.indexOf(QChar(u'\0'));
        return nul < 0 ? v->text : v->text.left(nul);
    }
    case ValueType::Binary:
        if (v->data.isEmpty()) return {};
        break;
    default: break;
    }
    throw RegistryError(QStringLiteral("Ugyldig datatype for '%1'").arg(name));
}

QStringList Registry::subkeyNames() const
{
    if (!m_open) return {};
    return source().subkeys(m_path);
}

} // namespace registry
