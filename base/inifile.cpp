// inifile: an INI document held in memory over one settings file.
#include "inifile.h"

#include "Felles.h"

namespace {

// Every character up to and including the blank goes, at both ends.
QString trimmed(QStringView text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text[start].unicode() <= 32)
        ++start;
    while (end > start && text[end - 1].unicode() <= 32)
        --end;
    return text.sliced(start, end - start).toString();
}

// "æ" finds "Æ" like any other letter, and "i" finds "I" whatever the user's locale.
QString folded(const QString &name)
{
    return platform::upperCase(name);
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

} // namespace

IniDocument::IniDocument(const QString &fileName)
{
    load(fileName);
}

int IniDocument::load(const QString &fileName)
{
    m_fileName = fileName;
    m_sections.clear();
    m_encoding = platform::Encoding::Ansi;
    m_readError = 0;
    m_onDisk.reset();
    if (!platform::fileExists(fileName)) return 0;
    QByteArray data;
    m_readError = platform::readBytes(fileName, data);
    if (m_readError) return m_readError;
    parse(data);
    m_onDisk = data;
    return 0;
}

void IniDocument::parse(QByteArrayView data)
{
    platform::Encoding enc;
    const QStringList fileLines = platform::decodeLines(data, enc);
    m_encoding = enc;
    parseLines(fileLines);
}

void IniDocument::parseLines(const QStringList &fileLines)
{
    m_sections.clear();
    Section *current = nullptr;
    for (const QString &raw : fileLines) {
        const QString line = trimmed(raw);
        if (line.isEmpty() || line.startsWith(u';')) continue;
        if (line.startsWith(u'[') && line.endsWith(u']') && line.size() >= 2) {
            m_sections.append({trimmed(QStringView(line).sliced(1, line.size() - 2)), {}});
            current = &m_sections.last();
            continue;
        }
        if (!current) continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            current->lines.append(line);
        else
            current->lines.append(trimmed(QStringView(line).left(eq)) + u'=' +
                                  trimmed(QStringView(line).sliced(eq + 1)));
    }
}

QStringList IniDocument::lines() const
{
    QStringList out;
    for (const Section &s : m_sections) {
        out.append(u'[' + s.name + u']');
        out += s.lines;
        out.append(QString());
    }
    return out;
}

QByteArray IniDocument::toBytes() const
{
    const QStringList all = lines();
    return platform::encodeLines(all, platform::writableEncoding(all, m_encoding));
}

int IniDocument::updateFile(int mode) const
{
    // Settings that could not be read must not be replaced by the little this document holds.
    if (m_readError) return m_readError;
    if (m_fileName.isEmpty()) return platform::ErrFileNotFound;
    // Most write-back moments change nothing; on a slow or network disk each needless replace
    // and its sync is most of the start-up.
    const QByteArray bytes = toBytes();
    if (m_onDisk && *m_onDisk == bytes && platform::fileExists(m_fileName)) return 0;
    const int err = platform::writeLines(m_fileName, lines(), m_encoding, true, mode);
    if (err == 0) m_onDisk = bytes;
    return err;
}

qsizetype IniDocument::findSection(const QString &foldedName) const
{
    for (qsizetype i = m_sections.size() - 1; i >= 0; --i)
        if (folded(m_sections[i].name) == foldedName) return i;
    return -1;
}

qsizetype IniDocument::findKey(const Section &section, const QString &foldedKey)
{
    for (qsizetype i = section.lines.size() - 1; i >= 0; --i) {
        const QString &line = section.lines[i];
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && folded(line.left(eq)) == foldedKey) return i;
    }
    return -1;
}

bool IniDocument::sectionExists(const QString &section) const
{
    return findSection(folded(section)) >= 0;
}

bool IniDocument::valueExists(const QString &section, const QString &key) const
{
    const qsizetype s = findSection(folded(section));
    return s >= 0 && findKey(m_sections[s], folded(key)) >= 0;
}

QString IniDocument::readString(const QString &section, const QString &key,
                                const QString &def) const
{
    const qsizetype s = findSection(folded(section));
    if (s < 0) return def;
    const qsizetype k = findKey(m_sections[s], folded(key));
    if (k < 0) return def;
    const QString &line = m_sections[s].lines[k];
    return line.sliced(line.indexOf(u'=') + 1);
}

std::int32_t IniDocument::readInteger(const QString &section, const QString &key,
                                      std::int32_t def) const
{
    std::int32_t value = 0;
    return toInteger(readString(section, key, QString()), value) ? value : def;
}

bool IniDocument::readBool(const QString &section, const QString &key, bool def) const
{
    return readInteger(section, key, def ? 1 : 0) != 0;
}

void IniDocument::writeString(const QString &sectionName, const QString &keyName,
                              const QString &value)
{
    // A line break inside a name or value would start a line of its own in the file, and so
    // could make a section or key of anything a user typed. The other control characters stay:
    // the file keeps them, and a scrambled password may hold them.
    const QString section = oneline(sectionName, true);
    const QString key = oneline(keyName, true);
    const QString line = key + u'=' + oneline(value, true);
    qsizetype s = findSection(folded(section));
    if (s < 0) {
        m_sections.append({section, {}});
        s = m_sections.size() - 1;
    }
    Section &target = m_sections[s];
    const qsizetype k = findKey(target, folded(key));
    if (k < 0)
        target.lines.append(line);
    else
        target.lines[k] = line;
}

void IniDocument::writeInteger(const QString &section, const QString &key, std::int32_t value)
{
    writeString(section, key, QString::number(value));
}

void IniDocument::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QStringList IniDocument::sectionNames() const
{
    QStringList names;
    for (const Section &s : m_sections)
        names.append(s.name);
    return names;
}

QStringList IniDocument::sectionLines(const QString &section) const
{
    const qsizetype s = findSection(folded(section));
    return s < 0 ? QStringList() : m_sections[s].lines;
}

bool IniDocument::operator==(const IniDocument &other) const
{
    return m_sections == other.m_sections && m_encoding == other.m_encoding;
}

bool IniDocument::toInteger(const QString &input, std::int32_t &value)
{
    QString text = input;
    if (text.size() >= 3 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X'))
        text.replace(0, 2, QStringLiteral("$"));
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    int base = 10;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    }
    if (i == n) return false;
    // The magnitude of the most negative number is one more than that of the most positive.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (; i < n; ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0 || d >= base) return false;
        magnitude = magnitude * base + d;
        if (magnitude > limit) return false;
    }
    value = std::int32_t(negative ? -magnitude : magnitude);
    return true;
}
