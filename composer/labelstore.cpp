// labelstore: the label list's entries in one block of text and one position a row.
#include "labelstore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

template <class T> void LabelStore::Buffer<T>::reserve(qsizetype n)
{
    if (n <= capacity) return;
    // Grown by half again, so that lines appended one by one move the block seldom.
    const qsizetype room = std::max({n, capacity + capacity / 2, qsizetype(16)});
    void *grown = std::realloc(data, std::size_t(room) * sizeof(T));
    if (!grown) throw std::bad_alloc();
    data = static_cast<T *>(grown);
    capacity = room;
}

LabelStore::~LabelStore()
{
    std::free(m_narrow.data);
    std::free(m_wide.data);
    std::free(m_rows.data);
}

void LabelStore::swap(LabelStore &other) noexcept
{
    std::swap(m_narrow, other.m_narrow);
    std::swap(m_wide, other.m_wide);
    std::swap(m_isWide, other.m_isWide);
    std::swap(m_rows, other.m_rows);
    m_added.swap(other.m_added);
    m_long.swap(other.m_long);
}

namespace {

// A block's position must leave the mark of an added entry free.
quint32 checkedPosition(qsizetype at)
{
    if (at >= qsizetype(LabelStore::Added)) throw std::length_error("label list block full");
    return quint32(at);
}

// A line this long is kept as the string it was decoded into: copied into the block, it would
// for a while be held twice, and a string's own cost is small beside it.
constexpr qsizetype LongLine = 4096;

// What stands before a line in the block: its length, or for a long line the number of its
// string, times two, and one more for a long line.
qsizetype header(qsizetype number, bool isLong) { return number * 2 + (isLong ? 1 : 0); }

// A header in the block of bytes: seven bits a byte, the high bit set where more follow.
void putHeader(char *&out, qsizetype value)
{
    while (value >= 0x80) {
        *out++ = char(0x80 | (value & 0x7F));
        value >>= 7;
    }
    *out++ = char(value);
}

// A header in the block of UTF-16 units: one unit below 0x8000, else two.
void putHeader(char16_t *&out, qsizetype value)
{
    if (value >= 0x8000) *out++ = char16_t(0x8000 | (value >> 16));
    *out++ = char16_t(value & (value >= 0x8000 ? 0xFFFF : 0x7FFF));
}

} // namespace

void LabelStore::reserve(qsizetype lines, qsizetype units, bool wide)
{
    if (wide && size() == 0 && m_narrow.size == 0) m_isWide = true;
    m_rows.reserve(m_rows.size + lines);
    // A short line's length takes one byte or unit, a long one's a few: room for two a line.
    if (m_isWide)
        m_wide.reserve(m_wide.size + units + 2 * lines);
    else
        m_narrow.reserve(m_narrow.size + units + 2 * lines);
}

void LabelStore::append(const QString &line)
{
    const bool isLong = line.size() >= LongLine;
    if (isLong) m_long.append(line);
    const QStringView text = isLong ? QStringView() : QStringView(line);
    const qsizetype value = header(isLong ? m_long.size() - 1 : line.size(), isLong);
    if (!m_isWide &&
        std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; }))
        widen(text.size() + 2);
    quint32 position;
    if (m_isWide) {
        m_wide.reserve(m_wide.size + text.size() + 2);
        position = checkedPosition(m_wide.size);
        char16_t *out = m_wide.data + m_wide.size;
        putHeader(out, value);
        if (!text.isEmpty()) std::memcpy(out, text.utf16(), std::size_t(text.size()) * 2);
        m_wide.size = out + text.size() - m_wide.data;
    } else {
        m_narrow.reserve(m_narrow.size + text.size() + 5);
        position = checkedPosition(m_narrow.size);
        char *out = m_narrow.data + m_narrow.size;
        putHeader(out, value);
        for (const QChar c : text) *out++ = char(c.unicode());
        m_narrow.size = out - m_narrow.data;
    }
    m_rows.reserve(m_rows.size + 1);
    m_rows.data[m_rows.size++] = position;
}

// Every opened line is written again in UTF-16, in the order of the rows; the room reserved in
// bytes is room enough in units, since no line's length takes more units than bytes.
void LabelStore::widen(qsizetype moreUnits)
{
    Buffer<char16_t> wide;
    wide.reserve(m_narrow.capacity + moreUnits);
    for (quint32 &position : rows()) {
        if (position & Added) continue;
        const Header h = headerAt(position);
        char16_t *out = wide.data + wide.size;
        putHeader(out, h.value);
        if (!(h.value & 1)) {
            const auto *in = static_cast<const unsigned char *>(h.units);
            for (qsizetype i = 0; i < h.value >> 1; ++i) *out++ = in[i];
        }
        position = checkedPosition(wide.size);
        wide.size = out - wide.data;
    }
    std::free(m_narrow.data);
    m_narrow = {};
    m_wide = wide;
    m_isWide = true;
}

LabelStore::Header LabelStore::headerAt(quint32 position) const
{
    if (m_isWide) {
        const char16_t *d = m_wide.data + position;
        if (d[0] < 0x8000) return {d[0], d + 1};
        return {(qsizetype(d[0] & 0x7FFF) << 16) | d[1], d + 2};
    }
    const auto *p = reinterpret_cast<const unsigned char *>(m_narrow.data) + position;
    qsizetype value = 0;
    int shift = 0;
    for (; *p & 0x80; shift += 7) value |= qsizetype(*p++ & 0x7F) << shift;
    value |= qsizetype(*p++) << shift;
    return {value, p};
}

LabelStore::Text LabelStore::textAt(quint32 position) const
{
    const Header h = headerAt(position);
    if (h.value & 1) {
        const QString &line = m_long.at(h.value >> 1);
        return {line.utf16(), line.size(), true};
    }
    return {h.units, h.value >> 1, m_isWide};
}

void LabelStore::insert(qsizetype row, const QString &entry)
{
    if (m_added.size() >= qsizetype(Added) - 1) throw std::length_error("label list full");
    m_rows.reserve(m_rows.size + 1);
    m_added.append(entry);
    std::memmove(m_rows.data + row + 1, m_rows.data + row,
                 std::size_t(m_rows.size - row) * sizeof(quint32));
    m_rows.data[row] = Added | quint32(m_added.size() - 1);
    ++m_rows.size;
}

void LabelStore::remove(qsizetype row)
{
    const quint32 position = m_rows.data[row];
    if (position & Added) {
        // Its text is given back now; its slot only once no later add stands behind it.
        m_added[position & ~Added] = QString();
        while (!m_added.isEmpty() && m_added.constLast().isNull()) m_added.removeLast();
    }
    std::memmove(m_rows.data + row, m_rows.data + row + 1,
                 std::size_t(m_rows.size - row - 1) * sizeof(quint32));
    --m_rows.size;
}

QStringView LabelStore::viewAt(quint32 position, QString &scratch) const
{
    if (position & Added) return m_added.at(position & ~Added);
    const Text t = textAt(position);
    if (t.wide) return QStringView(static_cast<const char16_t *>(t.units), t.length);
    scratch.resize(t.length);
    QChar *out = scratch.data();
    const auto *in = static_cast<const unsigned char *>(t.units);
    for (qsizetype i = 0; i < t.length; ++i) out[i] = QChar(in[i]);
    return scratch;
}

QString LabelStore::at(qsizetype row) const
{
    // A string of its own is shared, not copied: it may be megabytes long.
    const quint32 position = m_rows.data[row];
    if (position & Added) return m_added.at(position & ~Added);
    if (const Header h = headerAt(position); h.value & 1) return m_long.at(h.value >> 1);
    return visit(row, [](auto text) { return text.toString(); });
}

QStringList LabelStore::all() const
{
    QStringList out;
    out.reserve(size());
    for (qsizetype row = 0; row < size(); ++row) out.append(at(row));
    return out;
}

void *LabelStore::takeRows(std::size_t bytes)
{
    // Grown where it lies as far as the system allows, so that the rows are not copied.
    void *room = std::realloc(m_rows.data, std::max(bytes, std::size_t(size()) * sizeof(quint32)));
    if (!room) throw std::bad_alloc();
    m_rows = {};
    return room;
}

void LabelStore::adoptRows(quint32 *rows, qsizetype count, qsizetype capacity)
{
    std::free(m_rows.data);
    m_rows = {rows, count, capacity};
}
