// inifile: an INI document held in memory over one settings file. The file's text is kept as it
// was read and looked into where asked, so that a large file costs its bytes and a few bytes a
// section, not a string a line; only what is written here is held as strings beside it.
#include "inifile.h"

#include "Felles.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/file.h>

namespace {

using platform::Encoding;

// A mark inside the text is text; so is a character cut off at the end (a replacement).
constexpr auto Utf8Flags =
    QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless;

// "æ" finds "Æ" like any other letter, and "i" finds "I" whatever the user's locale.
QString folded(const QString &name) { return platform::upperCase(name); }

// QChar::toUpper, with the letters of ASCII, which most names are made of, raised at once.
inline char16_t upper(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80) return u >= 'a' && u <= 'z' ? char16_t(u - 32) : u;
    return c.toUpper().unicode();
}

constexpr quint32 HashStart = 2166136261u;
inline quint32 hashStep(quint32 h, char16_t c) { return (h ^ c) * 16777619u; }
// Names that differ in their last letters differ in the low bits that pick a slot.
inline quint32 hashEnd(quint32 h)
{
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    return h ^ (h >> 12);
}

// The hash of a name as folded() gives it, taken without making the folded copy.
quint32 foldedHash(QStringView name)
{
    quint32 h = HashStart;
    for (const QChar c : name) h = hashStep(h, upper(c));
    return hashEnd(h);
}

// folded(name) == foldedName, without making the copy: upper-casing keeps the length.
bool foldsTo(QStringView name, QStringView foldedName)
{
    if (name.size() != foldedName.size()) return false;
    for (qsizetype i = 0; i < name.size(); ++i)
        if (upper(name[i]) != foldedName[i].unicode()) return false;
    return true;
}

bool sameFolded(QStringView a, QStringView b)
{
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && upper(a[i]) != upper(b[i])) return false;
    return true;
}

bool isWide(Encoding enc) { return enc == Encoding::Utf16LE || enc == Encoding::Utf16BE; }

// Where the line that starts at i ends, and where the next one starts: CR LF, a lone CR and a
// lone LF each end a line.
template <class U> quint32 lineEnd(const U *p, quint32 i, quint32 n, quint32 &next)
{
    // Most lines are short and walked unit by unit; the rest of a long one the C library finds
    // many bytes at a time.
    const quint32 walked = std::min(n, i + 32);
    while (i < walked && p[i] != u'\r' && p[i] != u'\n') ++i;
    if constexpr (sizeof(U) == 1) {
        if (i == walked && i < n) {
            const auto *lf = static_cast<const U *>(std::memchr(p + i, '\n', n - i));
            const quint32 end = lf ? quint32(lf - p) : n;
            const auto *cr = static_cast<const U *>(std::memchr(p + i, '\r', end - i));
            i = cr ? quint32(cr - p) : end;
        }
    } else {
        while (i < n && p[i] != u'\r' && p[i] != u'\n') ++i;
    }
    next = i;
    if (next < n && p[next] == u'\r' && next + 1 < n && p[next + 1] == u'\n') ++next;
    if (next < n) ++next;
    return i;
}

// Every character up to and including the blank goes, at both ends.
template <class U> void trim(const U *p, quint32 &begin, quint32 &end)
{
    while (begin < end && p[begin] <= 32) ++begin;
    while (end > begin && p[end - 1] <= 32) --end;
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

// The bytes of a write-back in one encoding, either gathered or only counted and compared with
// what the file held, so that an unchanged file costs no copy of itself.
class IniDocument::Writer {
  public:
    Writer(Encoding enc, QByteArray *out, const QByteArray *compare)
        : m_enc(enc), m_out(out), m_compare(compare)
    {
    }
    Encoding encoding() const { return m_enc; }
    qint64 size() const { return m_size; }
    bool differs() const { return !m_compare || m_differs || m_size != m_compare->size(); }

    void bytes(QByteArrayView b)
    {
        if (m_compare && !m_differs &&
            (m_size + b.size() > m_compare->size() ||
             std::memcmp(m_compare->constData() + m_size, b.data(), std::size_t(b.size())) != 0))
            m_differs = true;
        if (m_out) m_out->append(b);
        m_size += b.size();
    }
    // Text of plain ASCII, such as the brackets and the line ends.
    void ascii(const char *text)
    {
        if (!isWide(m_enc)) return bytes(QByteArrayView(text));
        char units[16];
        qsizetype n = 0;
        for (; *text; ++text) {
            units[n++] = m_enc == Encoding::Utf16BE ? '\0' : *text;
            units[n++] = m_enc == Encoding::Utf16BE ? *text : '\0';
        }
        bytes(QByteArrayView(units, n));
    }
    void text(QStringView t)
    {
        switch (m_enc) {
        case Encoding::Ansi: return bytes(platform::toAnsi(t));
        case Encoding::Utf8: {
            m_scratch.resize(m_utf8.requiredSpace(t.size()));
            const char *end = m_utf8.appendToBuffer(m_scratch.data(), t);
            return bytes(QByteArrayView(m_scratch.constData(), end - m_scratch.constData()));
        }
        case Encoding::Utf16LE:
        case Encoding::Utf16BE: {
            const bool be = m_enc == Encoding::Utf16BE;
            m_scratch.resize(t.size() * 2);
            for (qsizetype i = 0; i < t.size(); ++i) {
                const char16_t u = t[i].unicode();
                m_scratch[2 * i] = char(be ? u >> 8 : u & 0xFF);
                m_scratch[2 * i + 1] = char(be ? u & 0xFF : u >> 8);
            }
            return bytes(m_scratch);
        }
        }
    }
    void mark()
    {
        switch (m_enc) {
        case Encoding::Ansi: break;
        case Encoding::Utf8: bytes("\xEF\xBB\xBF"); break;
        case Encoding::Utf16LE: bytes("\xFF\xFE"); break;
        case Encoding::Utf16BE: bytes("\xFE\xFF"); break;
        }
    }

  private:
    Encoding m_enc;
    QByteArray *m_out;
    const QByteArray *m_compare;
    qint64 m_size = 0;
    bool m_differs = false;
    QByteArray m_scratch;
    QStringEncoder m_utf8{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
};

IniDocument::IniDocument(const QString &fileName) { load(fileName); }

// A document about to be loaded from fileName, holding nothing yet.
void IniDocument::clearFor(const QString &fileName)
{
    m_fileName = fileName;
    parseOwned(QByteArray());
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
    parseOwned(data);
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
    if (!m_readError) {
        data.reserve(qsizetype(size));
        platform::preferLargePages(data.data(), std::size_t(data.capacity()));
    }
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
    parseOwned(data);
    m_onDisk = data;
    return 0;
}

void IniDocument::parse(QByteArrayView data) { parseOwned(data.toByteArray()); }

void IniDocument::parseOwned(const QByteArray &data)
{
    m_sections.clear();
    m_added.clear();
    m_extras.clear();
    m_readExtras.clear();
    m_measured.reset();
    m_sectionTable = NameTable();
    m_wide.clear();
    m_bytes.clear();
    m_begin = 0;
    // The mark is not text, and a second one is text of the first line.
    if (data.startsWith("\xEF\xBB\xBF")) {
        m_encoding = Encoding::Utf8;
        m_begin = 3;
        // Broken UTF-8 is read, and written back, as its replacement characters.
        m_bytes = QByteArrayView(data).sliced(3).isValidUtf8()
                      ? data
                      : "\xEF\xBB\xBF" + QString(QStringDecoder(QStringDecoder::Utf8, Utf8Flags)
                                                     .decode(QByteArrayView(data).sliced(3)))
                                             .toUtf8();
    } else if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF")) {
        m_encoding = data.startsWith("\xFE\xFF") ? Encoding::Utf16BE : Encoding::Utf16LE;
        m_wide =
            platform::decodeUtf16(QByteArrayView(data).sliced(2), m_encoding == Encoding::Utf16BE);
    } else {
        m_encoding = Encoding::Ansi;
        m_bytes = data;
    }
    m_size = quint32(isWide(m_encoding) ? m_wide.size() : m_bytes.size());
    scanSections();
}

template <class F> decltype(auto) IniDocument::withUnits(F f) const
{
    if (isWide(m_encoding)) return f(reinterpret_cast<const char16_t *>(m_wide.constData()));
    return f(reinterpret_cast<const unsigned char *>(m_bytes.constData()));
}

// Sized first from the brackets, so that the list of sections is made once, in one walk of the
// text that passes over blank lines and leading blanks as one run.
void IniDocument::scanSections()
{
    std::size_t lines = 0;
    withUnits([&](auto p) {
        const std::size_t brackets = std::size_t(std::count(p + m_begin, p + m_size, u'['));
        m_sections.reserve(brackets);
        platform::preferLargePages(m_sections.data(), brackets * sizeof(Section));
        for (quint32 i = m_begin, next = 0;; i = next) {
            for (; i < m_size && p[i] <= 32; ++i) lines += p[i] == u'\n' || p[i] == u'\r';
            if (i >= m_size) break;
            ++lines;
            quint32 begin = i;
            quint32 end = lineEnd(p, i, m_size, next);
            trim(p, begin, end);
            if (end - begin >= 2 && p[begin] == u'[' && p[end - 1] == u']')
                m_sections.push_back({begin});
        }
    });
    const std::size_t count = m_sections.size();
    // Each line is a section or a key at most, so the tables filled throughout cost what they
    // cost in ordinary pages when every name is its own. Within that bound large pages never
    // make a file cost more than such a file of the same size does, and leave room for a
    // write-back of the largest file; past it, a file of a few names over many lines would
    // cost many times what it does in ordinary pages.
    constexpr std::size_t LargeTableBudget = std::size_t(216) << 20;
    m_largeTables = std::size_t(m_size) * (isWide(m_encoding) ? 2 : 1) + count * sizeof(Section) +
                        lines * 8 * 10 / 7 <=
                    LargeTableBudget;
    m_sectionTable.reserve(count, m_largeTables);
    // The slots of a batch of names are fetched at once, so that their waits overlap.
    constexpr std::size_t Batch = 16;
    quint32 hashes[Batch];
    for (std::size_t first = 0; first < m_sections.size(); first += Batch) {
        const std::size_t n = std::min(Batch, m_sections.size() - first);
        for (std::size_t i = 0; i < n; ++i) {
            hashes[i] = sectionHash(qsizetype(first + i));
            m_sectionTable.prefetch(hashes[i]);
        }
        for (std::size_t i = 0; i < n; ++i) indexSection(qsizetype(first + i), hashes[i]);
    }
}

QStringView IniDocument::chars(Span span, QString &scratch) const
{
    const qsizetype n = span.end - span.begin;
    switch (m_encoding) {
    case Encoding::Utf16LE:
    case Encoding::Utf16BE: return QStringView(m_wide).sliced(span.begin, n);
    case Encoding::Ansi: {
        scratch.resize(n);
        QChar *d = scratch.data();
        for (qsizetype i = 0; i < n; ++i)
            d[i] = platform::ansiChar(static_cast<unsigned char>(m_bytes[span.begin + i]));
        return scratch;
    }
    case Encoding::Utf8: {
        scratch.resize(n);
        QStringDecoder decoder(QStringDecoder::Utf8, Utf8Flags);
        const QChar *end =
            decoder.appendToBuffer(scratch.data(), QByteArrayView(m_bytes).sliced(span.begin, n));
        scratch.truncate(end - scratch.constData());
        return scratch;
    }
    }
    return {};
}

// foldedHash of the span's text, taken from the bytes themselves where they are one character
// each, so that indexing a large file decodes none of it.
quint32 IniDocument::spanHash(Span span) const
{
    const bool ansi = m_encoding == Encoding::Ansi;
    if (ansi || m_encoding == Encoding::Utf8) {
        const auto *p = reinterpret_cast<const unsigned char *>(m_bytes.constData());
        quint32 h = HashStart;
        for (quint32 i = span.begin; i < span.end; ++i) {
            if (p[i] >= 0x80 && !ansi) return foldedHash(chars(span, m_scratch[0]));
            h = hashStep(h, upper(p[i] < 0x80 ? QChar(p[i]) : platform::ansiChar(p[i])));
        }
        return hashEnd(h);
    }
    return foldedHash(chars(span, m_scratch[0]));
}

QString IniDocument::text(Span span) const
{
    QString scratch;
    const QStringView view = chars(span, scratch);
    return view.data() == scratch.constData() ? scratch : view.toString();
}

IniDocument::Span IniDocument::nameSpan(qsizetype index) const
{
    return withUnits([&](auto p) {
        quint32 next = 0;
        quint32 begin = m_sections[std::size_t(index)].header();
        quint32 end = lineEnd(p, begin, m_size, next);
        trim(p, begin, end);
        ++begin;
        --end;
        trim(p, begin, end);
        return Span{begin, end};
    });
}

// A section added here has no text; its name is kept beside it.
QStringView IniDocument::nameOf(qsizetype index, QString &scratch) const
{
    if (isAdded(index)) return extraIf(index)->name;
    return chars(nameSpan(index), scratch);
}

QString IniDocument::sectionName(qsizetype index) const
{
    return isAdded(index) ? extraIf(index)->name : text(nameSpan(index));
}

// Where the section's lines start, after its "[" line, and where they end.
IniDocument::Span IniDocument::body(qsizetype index) const
{
    if (isAdded(index)) return {m_size, m_size};
    const std::size_t next = std::size_t(index) + 1;
    const quint32 end = next < m_sections.size() ? m_sections[next].header() : m_size;
    return withUnits([&](auto p) {
        quint32 begin = 0;
        lineEnd(p, m_sections[std::size_t(index)].header(), end, begin);
        return Span{begin, end};
    });
}

// Calls f(line) for each line of the section's text that holds something: trimmed, neither
// empty nor a comment. Blank lines, and the blanks before a line's text, are passed over as one
// run.
template <class F> void IniDocument::forEachBodyLine(qsizetype index, F f) const
{
    const Span lines = body(index);
    const quint32 end = lines.end;
    withUnits([&](auto p) {
        for (quint32 i = lines.begin, next = 0;; i = next) {
            while (i < end && p[i] <= 32) ++i;
            if (i >= end) break;
            quint32 begin = i;
            quint32 stop = lineEnd(p, i, end, next);
            trim(p, begin, stop);
            if (p[begin] != u';') f(Span{begin, stop});
        }
    });
}

// The trimmed line whose content starts at begin.
IniDocument::Span IniDocument::lineAt(quint32 begin) const
{
    return withUnits([&](auto p) {
        quint32 next = 0;
        quint32 end = lineEnd(p, begin, m_size, next);
        trim(p, begin, end);
        return Span{begin, end};
    });
}

// The key of a trimmed line, trimmed; null where the line holds no "=".
IniDocument::Span IniDocument::keyOf(Span line) const
{
    return withUnits([&](auto p) {
        for (quint32 i = line.begin; i < line.end; ++i) {
            if (p[i] != u'=') continue;
            quint32 begin = line.begin;
            trim(p, begin, i);
            return Span{begin, i};
        }
        return Span{NoPos, NoPos};
    });
}

// What follows the first "=" of a trimmed line that holds one, trimmed.
IniDocument::Span IniDocument::valueOf(Span line) const
{
    return withUnits([&](auto p) {
        quint32 i = line.begin;
        while (p[i] != u'=') ++i;
        quint32 end = line.end;
        ++i;
        trim(p, i, end);
        return Span{i, end};
    });
}

// A line of the text as a write-back gives it: "key=value" with the blanks around "=" gone.
QString IniDocument::lineText(const Extra *extra, quint32 ref, Span line) const
{
    if (extra) {
        const auto it = extra->replaced.constFind(ref);
        if (it != extra->replaced.cend()) return *it;
    }
    const Span key = keyOf(line);
    if (key.isNull()) return text(line);
    return text(key) + u'=' + text(valueOf(line));
}

QString IniDocument::refText(const Extra &extra, quint32 ref) const
{
    if (ref & AddedLine) return extra.added[ref & ~AddedLine];
    return lineText(&extra, ref, lineAt(ref));
}

QStringView IniDocument::refKey(const Extra &extra, quint32 ref, QString &scratch) const
{
    const QString *line = nullptr;
    if (ref & AddedLine) {
        line = &extra.added[ref & ~AddedLine];
    } else {
        const auto it = extra.replaced.constFind(ref);
        if (it == extra.replaced.cend()) {
            const Span key = keyOf(lineAt(ref));
            return key.isNull() ? QStringView() : chars(key, scratch);
        }
        line = &*it;
    }
    const qsizetype eq = line->indexOf(u'=');
    return eq < 0 ? QStringView() : QStringView(*line).left(eq);
}

QStringList IniDocument::bodyLines(qsizetype index) const
{
    const Extra *extra = extraIf(index);
    QStringList out;
    forEachBodyLine(index, [&](Span line) { out.append(lineText(extra, line.begin, line)); });
    if (extra) out += extra->added;
    return out;
}

IniDocument::Extra &IniDocument::extraOf(qsizetype index) const
{
    if (isAdded(index)) {
        qint32 &slot = m_added[std::size_t(index) - m_sections.size()];
        if (slot < 0) {
            slot = qint32(m_extras.size());
            m_extras.emplace_back();
        }
        return m_extras[std::size_t(slot)];
    }
    Section &section = m_sections[std::size_t(index)];
    if (!(section.at & HasExtra)) {
        section.at |= HasExtra;
        m_readExtras.insert(quint32(index), qint32(m_extras.size()));
        m_extras.emplace_back();
    }
    return m_extras[std::size_t(m_readExtras.value(quint32(index)))];
}

const IniDocument::Extra *IniDocument::extraIf(qsizetype index) const
{
    if (isAdded(index)) {
        const qint32 slot = m_added[std::size_t(index) - m_sections.size()];
        return slot < 0 ? nullptr : &m_extras[std::size_t(slot)];
    }
    if (!(m_sections[std::size_t(index)].at & HasExtra)) return nullptr;
    return &m_extras[std::size_t(m_readExtras.value(quint32(index)))];
}

void IniDocument::NameTable::Free::operator()(Slot *p) const
{
    platform::freeZeroed(p, bytes, largePages);
}

void IniDocument::NameTable::allocate(std::size_t size, bool largePages)
{
    const std::size_t bytes = size * sizeof(Slot);
    auto *block = static_cast<Slot *>(platform::allocateZeroed(bytes, largePages));
    if (!block) throw std::bad_alloc();
    m_slots = std::unique_ptr<Slot[], Free>(block, Free{bytes, largePages});
    m_size = size;
}

void IniDocument::NameTable::reserve(std::size_t n, bool largePages)
{
    allocate(n * 10 / 7 + 16, largePages);
    m_used = 0;
}

IniDocument::NameTable::NameTable(const NameTable &other)
{
    if (other.m_size == 0) return;
    allocate(other.m_size, other.m_slots.get_deleter().largePages);
    std::memcpy(m_slots.get(), other.m_slots.get(), m_size * sizeof(Slot));
    m_used = other.m_used;
}

IniDocument::NameTable &IniDocument::NameTable::operator=(NameTable other)
{
    std::swap(m_slots, other.m_slots);
    std::swap(m_size, other.m_size);
    std::swap(m_used, other.m_used);
    return *this;
}

// An entry known to be new, into a table with room for it.
void IniDocument::NameTable::place(Slot slot)
{
    std::size_t i = slotOf(slot.hash);
    while (m_slots[i].item != 0) i = i + 1 == m_size ? 0 : i + 1;
    m_slots[i] = slot;
    ++m_used;
}

void IniDocument::NameTable::prefetch(quint32 hash) const
{
    if (m_size) __builtin_prefetch(&m_slots[slotOf(hash)]);
}

// Past seven tenths full, the table doubles.
template <class Same> void IniDocument::NameTable::insert(quint32 hash, quint32 item, Same same)
{
    if (m_size == 0) reserve(0, false);
    if ((m_used + 1) * 10 > m_size * 7) {
        NameTable old = std::move(*this);
        reserve(old.m_size * 2 * 7 / 10, old.m_slots.get_deleter().largePages);
        for (std::size_t i = 0; i < old.m_size; ++i)
            if (old.m_slots[i].item != 0) place(old.m_slots[i]);
    }
    for (std::size_t i = slotOf(hash);; i = i + 1 == m_size ? 0 : i + 1) {
        Slot &slot = m_slots[i];
        if (slot.item == 0) {
            slot = {hash, item + 1};
            ++m_used;
            return;
        }
        if (slot.hash == hash && same(slot.item - 1)) {
            slot.item = item + 1;
            return;
        }
    }
}

template <class Same> quint32 IniDocument::NameTable::find(quint32 hash, Same same) const
{
    if (m_size == 0) return NoPos;
    for (std::size_t i = slotOf(hash);; i = i + 1 == m_size ? 0 : i + 1) {
        const Slot slot = m_slots[i];
        if (slot.item == 0) return NoPos;
        if (slot.hash == hash && same(slot.item - 1)) return slot.item - 1;
    }
}

quint32 IniDocument::sectionHash(qsizetype index) const
{
    return isAdded(index) ? foldedHash(extraIf(index)->name) : spanHash(nameSpan(index));
}

// The later of two sections of one name takes the earlier one's place.
void IniDocument::indexSection(qsizetype index, quint32 hash)
{
    m_sectionTable.insert(hash, quint32(index),
                          [&](quint32 other) { return sameName(other, index); });
}

// Two sections of one name, folded; a name repeated as it stood is known from its units alone.
bool IniDocument::sameName(qsizetype a, qsizetype b) const
{
    if (!isAdded(a) && !isAdded(b)) {
        const Span x = nameSpan(a);
        const Span y = nameSpan(b);
        const qsizetype width = isWide(m_encoding) ? 2 : 1;
        const char *units = isWide(m_encoding) ? reinterpret_cast<const char *>(m_wide.constData())
                                               : m_bytes.constData();
        if (x.end - x.begin == y.end - y.begin &&
            std::memcmp(units + x.begin * width, units + y.begin * width,
                        std::size_t(x.end - x.begin) * std::size_t(width)) == 0)
            return true;
    }
    return sameFolded(nameOf(a, m_scratch[0]), nameOf(b, m_scratch[1]));
}

qsizetype IniDocument::findSection(const QString &foldedName) const
{
    QString scratch;
    const quint32 found = m_sectionTable.find(foldedHash(foldedName), [&](quint32 item) {
        return foldsTo(nameOf(item, scratch), foldedName);
    });
    return found == NoPos ? -1 : qsizetype(found);
}

// A later line of the same key takes the earlier one's place.
void IniDocument::indexKey(Extra &extra, quint32 ref, quint32 hash) const
{
    extra.keys.insert(hash, ref, [&](quint32 other) {
        return sameFolded(refKey(extra, other, m_scratch[1]), refKey(extra, ref, m_scratch[0]));
    });
}

// Only lines that hold a key take room in the table: a section of a million lines without "="
// costs little.
void IniDocument::indexKeys(Extra &extra, qsizetype index) const
{
    // Sized at once for the lines the section may hold: what is never filled is never touched.
    const Span lines = body(index);
    const std::size_t ends = withUnits(
        [&](auto p) { return std::size_t(std::count(p + lines.begin, p + lines.end, u'\n')); });
    extra.keys.reserve(ends + 1, m_largeTables);
    // A large table is mostly out of the cache: the slots of a batch of keys are fetched at
    // once, so that their waits overlap.
    constexpr int Batch = 16;
    quint32 refs[Batch];
    quint32 hashes[Batch];
    int pending = 0;
    const auto flush = [&] {
        for (int i = 0; i < pending; ++i) extra.keys.prefetch(hashes[i]);
        for (int i = 0; i < pending; ++i) indexKey(extra, refs[i], hashes[i]);
        pending = 0;
    };
    forEachBodyLine(index, [&](Span line) {
        const Span key = keyOf(line);
        if (key.isNull()) return;
        refs[pending] = line.begin;
        hashes[pending] = spanHash(key);
        if (++pending == Batch) flush();
    });
    flush();
    for (qsizetype i = 0; i < extra.added.size(); ++i) indexAdded(extra, i);
}

void IniDocument::indexAdded(Extra &extra, qsizetype i) const
{
    const quint32 ref = AddedLine | quint32(i);
    const QStringView key = refKey(extra, ref, m_scratch[0]);
    if (!key.isNull()) indexKey(extra, ref, foldedHash(key));
}

quint32 IniDocument::findKey(qsizetype index, const QString &foldedKey) const
{
    Extra &extra = extraOf(index);
    if (extra.keys.isEmpty()) indexKeys(extra, index);
    QString scratch;
    return extra.keys.find(foldedHash(foldedKey), [&](quint32 item) {
        const QStringView key = refKey(extra, item, scratch);
        return !key.isNull() && foldsTo(key, foldedKey);
    });
}

QStringList IniDocument::lines() const
{
    QStringList out;
    for (qsizetype i = 0; i < sectionCount(); ++i) {
        out.append(u'[' + sectionName(i) + u']');
        out += bodyLines(i);
        out.append(QString());
    }
    return out;
}

// The text as read holds only what its encoding holds; what was written here may need more.
platform::Encoding IniDocument::writtenEncoding() const
{
    QStringList written;
    for (const Extra &e : m_extras) {
        if (!e.name.isNull()) written.append(e.name);
        for (const QString &line : e.replaced) written.append(line);
        written += e.added;
    }
    return platform::writableEncoding(written, m_encoding);
}

void IniDocument::write(Writer &out) const
{
    QString scratch;
    // The text's own units where they are already those of the encoding written.
    const bool asRead = isWide(m_encoding)
                            ? out.encoding() == Encoding::Utf16LE && Q_BYTE_ORDER == Q_LITTLE_ENDIAN
                            : out.encoding() == m_encoding;
    const auto raw = [&](Span span) {
        if (!asRead)
            out.text(chars(span, scratch));
        else if (isWide(m_encoding))
            out.bytes(
                QByteArrayView(reinterpret_cast<const char *>(m_wide.constData() + span.begin),
                               qsizetype(span.end - span.begin) * 2));
        else
            out.bytes(QByteArrayView(m_bytes.constData() + span.begin, span.end - span.begin));
    };
    out.mark();
    for (qsizetype i = 0; i < sectionCount(); ++i) {
        const Extra *extra = extraIf(i);
        out.ascii("[");
        if (isAdded(i))
            out.text(extra->name);
        else
            raw(nameSpan(i));
        out.ascii("]\r\n");
        const bool replaced = extra && !extra->replaced.isEmpty();
        forEachBodyLine(i, [&](Span line) {
            const auto it = replaced ? extra->replaced.constFind(line.begin)
                                     : QHash<quint32, QString>::const_iterator();
            const Span key = keyOf(line);
            if (replaced && it != extra->replaced.cend()) {
                out.text(*it);
            } else if (key.isNull() || valueOf(line).begin == key.end + 1) {
                raw(line);
            } else {
                raw(key);
                out.ascii("=");
                raw(valueOf(line));
            }
            out.ascii("\r\n");
        });
        if (extra)
            for (const QString &line : extra->added) {
                out.text(line);
                out.ascii("\r\n");
            }
        out.ascii("\r\n");
    }
}

QByteArray IniDocument::toBytes() const
{
    QByteArray bytes;
    Writer out(writtenEncoding(), &bytes, nullptr);
    write(out);
    return bytes;
}

int IniDocument::updateFile(int mode) const
{
    // Settings that could not be read must not be replaced by the little this document holds.
    if (m_readError) return m_readError;
    if (m_fileName.isEmpty()) return platform::ErrFileNotFound;
    // Most write-back moments change nothing; on a slow or network disk each needless replace
    // and its sync is most of the start-up, and with a large file so is each encoding.
    if (m_written && platform::fileExists(m_fileName)) return 0;
    const Encoding enc = writtenEncoding();
    // Measured and compared first, once while the document stays as it is: an unchanged file and
    // one grown too large cost no copy.
    if (!m_measured) {
        Writer measure(enc, nullptr, m_onDisk ? &*m_onDisk : nullptr);
        write(measure);
        m_measured.emplace(measure.size(), measure.differs());
    }
    const auto [size, differs] = *m_measured;
    if (!differs && platform::fileExists(m_fileName)) {
        m_written = true;
        return 0;
    }
    // A file that the next start would refuse to read is no file of settings: the old one stays.
    if (size > platform::MaxTextFileSize) return platform::ErrFileTooLarge;
    QByteArray bytes;
    bytes.reserve(qsizetype(size));
    Writer out(enc, &bytes, nullptr);
    write(out);
    const int err = platform::replaceFile(m_fileName, bytes, mode);
    if (err == 0) {
        m_onDisk.reset();
        m_measured.reset();
        m_written = true;
    }
    return err;
}

bool IniDocument::sectionExists(const QString &section) const
{
    return findSection(folded(section)) >= 0;
}

bool IniDocument::valueExists(const QString &section, const QString &key) const
{
    const qsizetype s = findSection(folded(section));
    return s >= 0 && findKey(s, folded(key)) != NoPos;
}

QString IniDocument::readString(const QString &section, const QString &key,
                                const QString &def) const
{
    const qsizetype s = findSection(folded(section));
    if (s < 0) return def;
    const quint32 ref = findKey(s, folded(key));
    if (ref == NoPos) return def;
    const Extra &extra = *extraIf(s);
    if (!(ref & AddedLine) && !extra.replaced.contains(ref)) return text(valueOf(lineAt(ref)));
    const QString line = refText(extra, ref);
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
        // Apart from the sections read, so that the list of those is never copied to grow.
        m_added.push_back(-1);
        s = sectionCount() - 1;
        extraOf(s).name = section;
        indexSection(s, sectionHash(s));
    }
    const quint32 ref = findKey(s, folded(key));
    Extra &extra = extraOf(s);
    if (ref == NoPos) {
        extra.added.append(line);
        indexAdded(extra, extra.added.size() - 1);
        m_written = false;
        m_measured.reset();
    } else if (refText(extra, ref) != line) {
        if (ref & AddedLine)
            extra.added[ref & ~AddedLine] = line;
        else
            extra.replaced.insert(ref, line);
        m_written = false;
        m_measured.reset();
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
    for (qsizetype i = 0; i < sectionCount(); ++i) names.append(sectionName(i));
    return names;
}

QStringList IniDocument::sectionLines(const QString &section) const
{
    const qsizetype s = findSection(folded(section));
    return s < 0 ? QStringList() : bodyLines(s);
}

bool IniDocument::operator==(const IniDocument &other) const
{
    return m_encoding == other.m_encoding && lines() == other.lines();
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
