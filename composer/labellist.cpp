// labellist: the entries of the label list, sorted, and the list's file.
#include "labellist.h"

#include <QFileInfo>
#include <QtEndian>

#include <unicode/ucol.h>
#include <unicode/uiter.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

LabelListModel::LabelListModel(QObject *parent)
    : QAbstractListModel(parent), m_keyCollator(nullptr, ucol_close)
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Set up as QCollator sets up its own for the same locale, so that keys and comparisons
    // agree; the C locale's order is not the collation library's, and gets no keys.
    if (m_collator.locale().language() == QLocale::C) return;
    UErrorCode status = U_ZERO_ERROR;
    m_keyCollator.reset(ucol_open(
        m_collator.locale().bcp47Name().replace(u'-', u'_').toLatin1().constData(), &status));
    ucol_setAttribute(m_keyCollator.get(), UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    ucol_setAttribute(m_keyCollator.get(), UCOL_STRENGTH, UCOL_SECONDARY, &status);
    ucol_setAttribute(m_keyCollator.get(), UCOL_NUMERIC_COLLATION, UCOL_OFF, &status);
    ucol_setAttribute(m_keyCollator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    if (U_FAILURE(status)) m_keyCollator.reset();
}

int LabelListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant LabelListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count()) return {};
    if (role == Qt::DisplayRole) return entry(index.row());
    return {};
}

void LabelListModel::Weight::add(const Weight &w, int sign)
{
    units += sign * w.units;
    utf8 += sign * w.utf8;
    notAnsi += sign * w.notAnsi;
    notUtf8 += sign * w.notUtf8;
}

LabelListModel::Weight LabelListModel::weigh(QStringView entry)
{
    Weight w;
    w.units = entry.size();
    bool ascii = true;
    for (qsizetype i = 0; i < entry.size(); ++i) {
        const char16_t c = entry[i].unicode();
        if (c < 0x80) {
            ++w.utf8;
            continue;
        }
        ascii = false;
        if (c < 0x800) {
            w.utf8 += 2;
        } else if (QChar::isHighSurrogate(c) && i + 1 < entry.size() &&
                   entry[i + 1].isLowSurrogate()) {
            w.utf8 += 4;
            ++i;
        } else {
            w.utf8 += 3;
        }
    }
    if (!ascii) {
        w.notAnsi = platform::ansiCanHold(entry) ? 0 : 1;
        w.notUtf8 = entry.isValidUtf16() ? 0 : 1;
    }
    return w;
}

// As saveEncoding and the writer choose the encoding, from the weights alone.
std::int64_t LabelListModel::writtenSize(const Weight &w, qsizetype count, QStringView first) const
{
    using platform::Encoding;
    Encoding enc = m_encoding;
    if (enc == Encoding::Ansi && w.notAnsi > 0)
        enc = w.notUtf8 > 0 ? Encoding::Utf16LE : Encoding::Utf8;
    else if (enc == Encoding::Utf8 && w.notUtf8 > 0)
        enc = Encoding::Utf16LE;
    if (enc == Encoding::Ansi && count > 0) {
        const QByteArray start = platform::toAnsi(first.left(3));
        if (start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF") ||
            start.startsWith("\xEF\xBB\xBF"))
            enc = Encoding::Utf8;
    }
    switch (enc) {
    case Encoding::Ansi: return w.units + 2 * std::int64_t(count);
    case Encoding::Utf8: return 3 + w.utf8 + 2 * std::int64_t(count);
    case Encoding::Utf16LE:
    case Encoding::Utf16BE: return 2 + 2 * (w.units + 2 * std::int64_t(count));
    }
    return 0;
}

std::int64_t LabelListModel::writtenSize() const
{
    QString scratch;
    return writtenSize(m_weight, count(), count() ? m_entries.view(0, scratch) : QStringView());
}

int LabelListModel::add(const QString &text, Refusal *why)
{
    // After any equal ones: the first row whose entry sorts after the text.
    QString scratch;
    int row = 0;
    for (int end = count(); row < end;) {
        const int mid = row + (end - row) / 2;
        if (m_collator.compare(text, m_entries.view(mid, scratch)) < 0)
            end = mid;
        else
            row = mid + 1;
    }
    Weight after = m_weight;
    after.add(weigh(text), 1);
    Refusal refusal = Refusal::None;
    if (count() >= MaxLabelListEntries)
        refusal = Refusal::TooManyEntries;
    else if (writtenSize(after, count() + 1,
                         row == 0 ? QStringView(text) : m_entries.view(0, scratch)) >
             platform::MaxTextFileSize)
        refusal = Refusal::TooLarge;
    if (why) *why = refusal;
    if (refusal != Refusal::None) return -1;
    beginInsertRows(QModelIndex(), row, row);
    m_entries.insert(row, text);
    m_weight = after;
    endInsertRows();
    return row;
}

void LabelListModel::remove(int row)
{
    if (row < 0 || row >= count()) return;
    beginRemoveRows(QModelIndex(), row, row);
    QString scratch;
    m_weight.add(weigh(m_entries.view(row, scratch)), -1);
    m_entries.remove(row);
    endRemoveRows();
}

namespace {

// A line's place in the sort: the first bytes of its collation key (zero past a key's end), as
// numbers that compare as the bytes do, and its position in the store, the tie-break that keeps
// equal lines in file order. Short lines take the small record, so that what the sort costs
// stays within what their file costs; long ones share long beginnings (every label starts with
// "+"), and take more of the key, so that fewer comparisons need the collator.
struct LongRanked {
    static constexpr int Size = 12;
    quint64 high;
    quint32 low;
    quint32 start : 30;
    quint32 whole : 1;  // the key ends within its first bytes
    quint32 filled : 1; // QCollator puts an empty line before all others, whatever their key
    void setKey(const uint8_t *key)
    {
        high = qFromBigEndian<quint64>(key);
        low = qFromBigEndian<quint32>(key + 8);
    }
    friend int compareKeys(const LongRanked &a, const LongRanked &b)
    {
        if (a.high != b.high) return a.high < b.high ? -1 : 1;
        return a.low == b.low ? 0 : a.low < b.low ? -1 : 1;
    }
};

struct ShortRanked {
    static constexpr int Size = 4;
    quint32 key;
    quint32 start : 30;
    quint32 whole : 1;
    quint32 filled : 1;
    void setKey(const uint8_t *k) { key = qFromBigEndian<quint32>(k); }
    friend int compareKeys(const ShortRanked &a, const ShortRanked &b)
    {
        return a.key == b.key ? 0 : a.key < b.key ? -1 : 1;
    }
};

constexpr quint32 MaxRankedStart = (quint32(1) << 30) - 1;

UCollationResult collate(const UCollator *collator, QStringView x, QStringView y)
{
    return ucol_strcoll(collator, reinterpret_cast<const UChar *>(x.utf16()), int(x.size()),
                        reinterpret_cast<const UChar *>(y.utf16()), int(y.size()));
}

} // namespace

// Most comparisons are settled by the keys' first bytes, without the collator or the strings;
// only lines whose first key bytes agree are compared whole. The records take the rows' room
// while they are sorted, and give it back as the rows in their new order.
template <class Ranked> bool LabelListModel::sortRanked(LabelStore &lines) const
{
    const std::size_t n = std::size_t(lines.size());
    const std::size_t room = std::max<std::size_t>(n, 1);
    // Record i is written over rows i * (its size / 4) and on, each read before, from the last.
    auto *bytes = static_cast<char *>(lines.takeRows(room * sizeof(Ranked)));
    const auto rowAt = [&](std::size_t i) {
        quint32 position;
        std::memcpy(&position, bytes + i * sizeof position, sizeof position);
        return position;
    };
    const auto putRow = [&](std::size_t i, quint32 position) {
        std::memcpy(bytes + i * sizeof position, &position, sizeof position);
    };
    auto *ranks = reinterpret_cast<Ranked *>(bytes);
    QString scratch, other;
    for (std::size_t i = n; i-- > 0;) {
        const quint32 position = rowAt(i);
        const QStringView line = lines.viewAt(position, scratch);
        UCharIterator units;
        uiter_setString(&units, reinterpret_cast<const UChar *>(line.utf16()), int(line.size()));
        std::uint32_t state[2] = {0, 0};
        UErrorCode status = U_ZERO_ERROR;
        uint8_t key[Ranked::Size] = {};
        const int got =
            ucol_nextSortKeyPart(m_keyCollator.get(), &units, state, key, Ranked::Size, &status);
        if (U_FAILURE(status) || position > MaxRankedStart) {
            // The rows back as they were: those above i from their records, in rising order, so
            // that no record is written over before it is read.
            for (std::size_t k = i + 1; k < n; ++k) putRow(k, ranks[k].start);
            lines.adoptRows(reinterpret_cast<quint32 *>(bytes), qsizetype(n),
                            qsizetype(room * sizeof(Ranked) / sizeof(quint32)));
            return false;
        }
        Ranked r;
        r.setKey(key);
        r.start = position;
        r.whole = got < Ranked::Size;
        r.filled = !line.isEmpty();
        std::memcpy(static_cast<void *>(ranks + i), &r, sizeof r);
    }
    std::sort(ranks, ranks + n, [&](const Ranked &a, const Ranked &b) {
        if (a.filled != b.filled) return bool(b.filled);
        if (const int c = compareKeys(a, b)) return c < 0;
        // Equal keys held whole: the lines are equal. Else the same collator that made the keys
        // decides, so that keys and comparisons never disagree.
        if (!a.whole || !b.whole) {
            const QStringView x = lines.viewAt(a.start, scratch), y = lines.viewAt(b.start, other);
            const UCollationResult c = collate(m_keyCollator.get(), x, y);
            if (c != UCOL_EQUAL) return c == UCOL_LESS;
        }
        return a.start < b.start;
    });
    // The starts in order at the front, each written below any record not yet read, and the
    // rest of the room given back.
    for (std::size_t i = 0; i < n; ++i) putRow(i, ranks[i].start);
    void *shrunk = std::realloc(bytes, room * sizeof(quint32));
    lines.adoptRows(static_cast<quint32 *>(shrunk ? shrunk : bytes), qsizetype(n),
                    qsizetype(room * (shrunk ? 1 : sizeof(Ranked) / sizeof(quint32))));
    return true;
}

bool LabelListModel::sortLines(LabelStore &lines, std::int64_t units, std::int64_t fileSize) const
{
    const auto n = std::int64_t(lines.size());
    if (units >= 16 * n) return sortRanked<LongRanked>(lines);
    // Lines of a letter or none cost less than the records would: the list then costs no more
    // than three times its file, as longer lines do, and pays for it in comparisons.
    if (fileSize >= 0 && lines.heldBytes() + std::int64_t(sizeof(ShortRanked)) * n > 3 * fileSize) {
        sortInPlace(lines);
        return true;
    }
    return sortRanked<ShortRanked>(lines);
}

// The order the records give, from the lines alone: the rows' own room is all it takes.
void LabelListModel::sortInPlace(LabelStore &lines) const
{
    QString scratch, other;
    const std::span<quint32> rows = lines.rows();
    std::sort(rows.begin(), rows.end(), [&](quint32 a, quint32 b) {
        const QStringView x = lines.viewAt(a, scratch), y = lines.viewAt(b, other);
        if (x.isEmpty() != y.isEmpty()) return x.isEmpty();
        if (x != y) {
            const UCollationResult c = collate(m_keyCollator.get(), x, y);
            if (c != UCOL_EQUAL) return c == UCOL_LESS;
        }
        return a < b;
    });
}

bool LabelListModel::inOrder(const LabelStore &lines) const
{
    QString a, b;
    for (qsizetype row = 1; row < lines.size(); ++row)
        if (m_collator.compare(lines.view(row, a), lines.view(row - 1, b)) < 0) return false;
    return true;
}

void LabelListModel::replace(const QStringList &lines)
{
    LabelStore store;
    qsizetype units = 0;
    for (const QString &line : lines) units += line.size();
    // Lines already in memory: a wider letter among them rewrites the block once, at no cost
    // that matters beside the strings the caller holds.
    store.reserve(lines.size(), units);
    for (const QString &line : lines) store.append(line);
    adopt(std::move(store));
}

void LabelListModel::adopt(LabelStore lines, std::int64_t fileSize)
{
    Weight weight;
    QString scratch, other;
    for (qsizetype row = 0; row < lines.size(); ++row)
        weight.add(weigh(lines.view(row, scratch)), 1);
    // A file the list saved is in order already, and is taken as it is. Equal lines keep their
    // order, so that a file in order but for equal entries comes back line for line.
    if (!inOrder(lines) && !(m_keyCollator && sortLines(lines, weight.units, fileSize))) {
        const std::span<quint32> rows = lines.rows();
        std::stable_sort(rows.begin(), rows.end(), [&](quint32 a, quint32 b) {
            return m_collator.compare(lines.viewAt(a, scratch), lines.viewAt(b, other)) < 0;
        });
    }
    beginResetModel();
    m_entries = std::move(lines);
    m_weight = weight;
    endResetModel();
}

int openLabelList(const QString &path, LabelListModel &list)
{
    // Each line goes into the store as it is decoded, so that no line is ever a string of its
    // own; the count that comes first gives the store its room at once.
    LabelStore lines;
    platform::Encoding encoding;
    if (const int err = platform::walkLines(
            path, encoding, MaxLabelListEntries,
            [&](const platform::LineCount &count) {
                lines.reserve(count.lines, qsizetype(count.bytes), !count.latin1);
            },
            [&](QString line) { lines.append(std::move(line)); }))
        return err;
    list.setEncoding(encoding);
    list.adopt(std::move(lines), QFileInfo(path).size());
    return platform::NoError;
}

platform::Encoding saveEncoding(const QStringList &entries, platform::Encoding remembered)
{
    const platform::Encoding enc = platform::writableEncoding(entries, remembered);
    if (enc != platform::Encoding::Ansi || entries.isEmpty()) return enc;
    // Sorting can bring a line to the top whose first bytes in the code page are a byte-order
    // mark ("ÿþ", "þÿ", "ï»¿"); written so, the file would open as another encoding.
    const QByteArray start = platform::toAnsi(QStringView(entries.constFirst()).left(3));
    if (start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF") ||
        start.startsWith("\xEF\xBB\xBF"))
        return platform::Encoding::Utf8;
    return enc;
}

int saveLabelList(const QString &path, const LabelListModel &list)
{
    const QStringList entries = list.entries();
    return platform::writeLines(path, entries, saveEncoding(entries, list.encoding()), true);
}

QString groupedNumber(std::int64_t number)
{
    QString digits = QString::number(number);
    for (qsizetype at = digits.size() - 3; at > (digits.startsWith(u'-') ? 1 : 0); at -= 3)
        digits.insert(at, u' ');
    return digits;
}

QString refusalText(LabelListModel::Refusal why)
{
    switch (why) {
    case LabelListModel::Refusal::TooManyEntries:
        return QStringLiteral(
                   "Oppføringen er ikke lagt til: listen har alt %1 linjer, det meste en "
                   "lagret liste kan ha og likevel åpnes igjen.")
            .arg(groupedNumber(MaxLabelListEntries));
    case LabelListModel::Refusal::TooLarge:
        return QStringLiteral("Oppføringen er ikke lagt til: med den ville listen bli større enn "
                              "%1 MiB lagret, og en slik fil kan ikke åpnes igjen.")
            .arg(platform::MaxTextFileSize >> 20);
    case LabelListModel::Refusal::None: break;
    }
    return QString();
}
