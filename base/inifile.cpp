// inifile: an INI document held in memory over one settings file.
#include "inifile.h"

#include "Felles.h"

#include <QStringDecoder>

#include <sys/file.h>

namespace {

// Every character up to and including the blank goes, at both ends.
QString trimmed(QStringView text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text[start].unicode() <= 32) ++start;
    while (end > start && text[end - 1].unicode() <= 32) --end;
    return text.sliced(start, end - start).toString();
}

// "æ" finds "Æ" like any other letter, and "i" finds "I" whatever the user's locale.
QString folded(const QString &name) { return platform::upperCase(name); }

// The hash of a name as folded() gives it, taken without making the folded copy.
quint32 foldedHash(QStringView name)
{
    quint32 h = 2166136261u;
    for (const QChar c : name) {
        h ^= c.toUpper().unicode();
        h *= 16777619u;
    }
    return h;
}

// folded(name) == foldedName, without making the copy: upper-casing keeps the length.
bool foldsTo(QStringView name, QStringView foldedName)
{
    if (name.isNull() || name.size() != foldedName.size()) return false;
    for (qsizetype i = 0; i < name.size(); ++i)
        if (name[i].toUpper() != foldedName[i]) return false;
    return true;
}

QStringView keyOf(const QString &line)
{
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? QStringView() : QStringView(line).left(eq);
}

// Sections this short are searched line by line.
constexpr qsizetype ShortSection = 16;

// Calls line(view) for each line of text: CR LF, lone CR and lone LF end a line, a final end
// adds none. No list of every line is made, so a file of little but line ends costs its text.
template <class Line> void forEachLine(QStringView text, Line line)
{
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c != u'\r' && c != u'\n') continue;
        line(text.sliced(start, i - start));
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < n) line(text.sliced(start));
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

IniDocument::IniDocument(const QString &fileName) { load(fileName); }

// A document about to be loaded from fileName, holding nothing yet.
void IniDocument::clearFor(const QString &fileName)
{
    m_fileName = fileName;
    m_sections.clear();
    m_encoding = platform::Encoding::Ansi;
    m_sectionIndex.clear();
    m_readError = 0;
    m_onDisk.reset();
    m_written = false;
}

int IniDocument::load(const QString &fileName)
{
    clearFor(fileName);
    if (!platform::fileExists(fileName)) return 0;
    QByteArray data;
    m_readError = platform::readBytes(fileName, data);
    if (m_readError) return m_readError;
    parse(data);
    m_onDisk = data;
    return 0;
}

int IniDocument::load(const QString &fileName, platform::FileHandle opened)
{
    clearFor(fileName);
    QByteArray data;
    std::int64_t size = 0;
    // The sharing an open for reading keeps: a writer that holds the file keeps it to itself.
    if (::flock(int(opened), LOCK_SH | LOCK_NB) != 0) m_readError = platform::ErrSharingViolation;
    if (!m_readError) m_readError = platform::fileSize(opened, size);
    if (!m_readError) m_readError = platform::checkTextFileSize(fileName, size);
    if (!m_readError) data.reserve(qsizetype(size));
    char buffer[65536];
    int got = 0;
    // The size is checked again while reading: the file may grow after the first look.
    while (!m_readError &&
           (m_readError = platform::readFile(opened, buffer, sizeof buffer, got)) == 0 && got > 0) {
        data.append(buffer, got);
        if (data.size() > platform::MaxTextFileSize)
            m_readError = platform::checkTextFileSize(fileName, data.size());
    }
    if (m_readError) return m_readError;
    parse(data);
    m_onDisk = data;
    return 0;
}

void IniDocument::parse(QByteArrayView data)
{
    // The mark is not text, and a second one is text of the first line; a character cut off at
    // the end of the file becomes a replacement character.
    constexpr auto flags =
        QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless;
    QString text;
    if (data.startsWith("\xEF\xBB\xBF")) {
        text = QStringDecoder(QStringDecoder::Utf8, flags).decode(data.sliced(3));
        m_encoding = platform::Encoding::Utf8;
    } else if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF")) {
        platform::Encoding enc;
        parseLines(platform::decodeLines(data, enc));
        m_encoding = enc;
        return;
    } else {
        text = platform::fromAnsi(data);
        m_encoding = platform::Encoding::Ansi;
    }
    m_sections.clear();
    m_sectionIndex.clear();
    forEachLine(text, [this](QStringView raw) { parseLine(raw); });
}

void IniDocument::parseLines(const QStringList &fileLines)
{
    m_sections.clear();
    m_sectionIndex.clear();
    for (const QString &raw : fileLines) parseLine(raw);
}

void IniDocument::parseLine(QStringView raw)
{
    const QString line = trimmed(raw);
    if (line.isEmpty() || line.startsWith(u';')) return;
    if (line.startsWith(u'[') && line.endsWith(u']') && line.size() >= 2) {
        appendSection(trimmed(QStringView(line).sliced(1, line.size() - 2)));
        return;
    }
    if (m_sections.isEmpty()) return;
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0)
        m_sections.last().lines.append(line);
    else
        m_sections.last().lines.append(trimmed(QStringView(line).left(eq)) + u'=' +
                                       trimmed(QStringView(line).sliced(eq + 1)));
}

void IniDocument::appendSection(const QString &name)
{
    m_sections.append({name, {}});
    m_sectionIndex.insert(folded(name), m_sections.size() - 1);
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
    // and its sync is most of the start-up, and with a large file so is each encoding.
    if (m_written && platform::fileExists(m_fileName)) return 0;
    const QByteArray bytes = toBytes();
    if (m_onDisk && *m_onDisk == bytes && platform::fileExists(m_fileName)) {
        m_written = true;
        return 0;
    }
    // A file that the next start would refuse to read is no file of settings: the old one stays.
    if (bytes.size() > platform::MaxTextFileSize) return platform::ErrFileTooLarge;
    const int err = platform::writeLines(m_fileName, lines(), m_encoding, true, mode);
    if (err == 0) {
        m_onDisk.reset();
        m_written = true;
    }
    return err;
}

qsizetype IniDocument::findSection(const QString &foldedName) const
{
    return m_sectionIndex.value(foldedName, -1);
}

void IniDocument::indexKey(const Section &section, qint32 line)
{
    const QStringView key = keyOf(section.lines[line]);
    if (key.isNull()) return;
    const QString foldedKey = folded(key.toString());
    const quint32 mask = quint32(section.keySlots.size() - 1);
    for (quint32 i = foldedHash(key) & mask;; i = (i + 1) & mask) {
        qint32 &slot = section.keySlots[i];
        if (slot < 0) {
            ++section.indexed;
            slot = line;
            return;
        }
        // A later line of the same key takes the earlier one's place.
        if (foldsTo(keyOf(section.lines[slot]), foldedKey)) {
            slot = line;
            return;
        }
    }
}

void IniDocument::indexKeys(const Section &section)
{
    std::size_t size = 64;
    while (size < std::size_t(section.lines.size()) * 2) size *= 2;
    section.keySlots.assign(size, -1);
    section.indexed = 0;
    for (qint32 i = 0; i < qint32(section.lines.size()); ++i) indexKey(section, i);
}

qsizetype IniDocument::findKey(const Section &section, const QString &foldedKey)
{
    if (section.lines.size() <= ShortSection) {
        for (qsizetype i = section.lines.size() - 1; i >= 0; --i)
            if (foldsTo(keyOf(section.lines[i]), foldedKey)) return i;
        return -1;
    }
    if (section.keySlots.empty()) indexKeys(section);
    const quint32 mask = quint32(section.keySlots.size() - 1);
    for (quint32 i = foldedHash(foldedKey) & mask;; i = (i + 1) & mask) {
        const qint32 slot = section.keySlots[i];
        if (slot < 0) return -1;
        if (foldsTo(keyOf(section.lines[slot]), foldedKey)) return slot;
    }
}

void IniDocument::addLine(Section &section, const QString &line)
{
    section.lines.append(line);
    if (section.keySlots.empty()) return;
    if (std::size_t(section.indexed + 1) * 2 > section.keySlots.size())
        indexKeys(section);
    else
        indexKey(section, qint32(section.lines.size() - 1));
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
        appendSection(section);
        s = m_sections.size() - 1;
    }
    Section &target = m_sections[s];
    const qsizetype k = findKey(target, folded(key));
    if (k < 0) {
        addLine(target, line);
        m_written = false;
    } else if (target.lines[k] != line) {
        target.lines[k] = line;
        m_written = false;
    }
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
    for (const Section &s : m_sections) names.append(s.name);
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
    while (i < n && text[i] == u' ') ++i;
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
