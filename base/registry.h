// registry: the machine's configuration tree as the base library reads it (HKEY_LOCAL_MACHINE),
// with a Linux view that shows the same facts under the same keys, and a seam for tests.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <stdexcept>

namespace registry {

enum class ValueType { Text, ExpandText, MultiText, Number, Binary };

struct Value {
    ValueType type = ValueType::Text;
    QString text;      // Text and ExpandText; may hold NUL characters
    QStringList texts; // MultiText
    std::uint32_t number = 0;
    QByteArray data; // Binary

    static Value fromText(const QString &text) { return {ValueType::Text, text, {}, 0, {}}; }
    static Value fromExpandText(const QString &text)
    {
        return {ValueType::ExpandText, text, {}, 0, {}};
    }
    static Value fromTexts(const QStringList &texts)
    {
        return {ValueType::MultiText, {}, texts, 0, {}};
    }
    static Value fromNumber(std::uint32_t number)
    {
        return {ValueType::Number, {}, {}, number, {}};
    }
};

// Raised for a value that is there but is not text.
class RegistryError : public std::runtime_error {
  public:
    explicit RegistryError(const QString &message);
};

// Everything below HKEY_LOCAL_MACHINE. Key paths are "\"-separated without a leading "\" and
// compared without regard to letter case, as the registry does.
class Source {
  public:
    virtual ~Source() = default;
    // Open-or-create: true when the key is there afterwards.
    virtual bool openKey(const QString &path) = 0;
    virtual std::optional<Value> value(const QString &path, const QString &name) const = 0;
    // In enumeration order.
    virtual QStringList subkeys(const QString &path) const = 0;
};

// A registry held in memory; keys exist once they are added (a value adds its key and every
// parent). Creation on open is off, as for a process without the rights to create keys.
class MemoryRegistry : public Source {
  public:
    void addKey(const QString &path);
    void setValue(const QString &path, const QString &name, const Value &value);

    bool openKey(const QString &path) override;
    std::optional<Value> value(const QString &path, const QString &name) const override;
    QStringList subkeys(const QString &path) const override;

  private:
    struct Key {
        QString path; // as first added
        QList<std::pair<QString, Value>> values;
    };
    int find(const QString &path) const;
    QList<Key> m_keys; // in the order added, which is the enumeration order
};

// The Linux machine's own facts, read afresh on every call: the host name, the DNS domain, one
// interface key per network interface with its IPv4 address, and the logon user. It offers no
// printer spool folder and creates nothing. Given a key's path, it reads only the facts at that
// key, above it or below it, as a look-up of that key needs.
MemoryRegistry machineFacts(const QString &path = QString());

// The source every Registry reads; the platform's own until a test installs another.
Source &source();
// nullptr restores the platform's own. The caller keeps ownership.
void setSource(Source *source);

// One routine's handle on the tree: at most one key is open at a time, and it is closed when
// the handle goes.
class Registry {
  public:
    Registry() = default;
    Registry(const Registry &) = delete;
    Registry &operator=(const Registry &) = delete;
    ~Registry() { closeKey(); }

    bool openKey(const QString &path);
    void closeKey();
    bool hasOpenKey() const { return m_open; }
    // Empty for a missing value, a value without data, or when no key is open; the characters
    // up to the first NUL for text (expandable text is not expanded); RegistryError otherwise.
    QString readString(const QString &name) const;
    // Empty when no key is open.
    QStringList subkeyNames() const;

  private:
    QString m_path;
    bool m_open = false;
};

} // namespace registry
