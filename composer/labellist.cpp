// labellist: the entries of the label list, sorted, and the list's file.
#include "labellist.h"

#include <QtEndian>

#include <unicode/ucol.h>
#include <unicode/uiter.h>

#include <algorithm>
#include <vector>

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
    return writtenSize(m_weight, count(),
                       m_entries.isEmpty() ? QStringView() : QStringView(m_entries.constFirst()));
}

int LabelListModel::add(const QString &text, Refusal *why)
{
    const auto at = std::upper_bound(m_entries.cbegin(), m_entries.cend(), text, order());
    const int row = int(at - m_entries.cbegin());
    Weight after = m_weight;
    after.add(weigh(text), 1);
    Refusal refusal = Refusal::None;
    if (count() >= MaxLabelListEntries)
        refusal = Refusal::TooManyEntries;
    else if (writtenSize(after, count() + 1,
                         row == 0 ? QStringView(text) : QStringView(m_entries.constFirst())) >
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
    m_weight.add(weigh(m_entries.at(row)), -1);
    m_entries.removeAt(row);
    endRemoveRows();
}

namespace {

// A line's place in the sort: the first bytes of its collation key (zero past a key's end), as
// numbers that compare as the bytes do, and its row in the file, the tie-break that keeps equal
// lines in file order.
struct Ranked {
    static constexpr int Size = 12;
    quint64 high;
    quint32 low;
    quint32 row : 30;
    quint32 whole : 1;  // the key ends within its first bytes
    quint32 filled : 1; // QCollator puts an empty line before all others, whatever their key
    static constexpr qsizetype MaxRows = qsizetype(1) << 30;
};

} // namespace

// Most comparisons are settled by the keys' first bytes, without the collator or the strings;
// only lines whose first key bytes agree are compared whole.
bool LabelListModel::sortLines(QStringList &lines) const
{
    if (lines.size() >= Ranked::MaxRows) return false;
    std::vector<Ranked> ranks(std::size_t(lines.size()));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        Ranked &r = ranks[std::size_t(i)];
        const QString &line = lines.at(i);
        UCharIterator units;
        uiter_setString(&units, reinterpret_cast<const UChar *>(line.utf16()), int(line.size()));
        std::uint32_t state[2] = {0, 0};
        UErrorCode status = U_ZERO_ERROR;
        uint8_t key[Ranked::Size] = {};
        const int got =
            ucol_nextSortKeyPart(m_keyCollator.get(), &units, state, key, Ranked::Size, &status);
        if (U_FAILURE(status)) return false;
        r.high = qFromBigEndian<quint64>(key);
        r.low = qFromBigEndian<quint32>(key + 8);
        r.row = quint32(i);
        r.whole = got < Ranked::Size;
        r.filled = !line.isEmpty();
    }
    std::sort(ranks.begin(), ranks.end(), [&](const Ranked &a, const Ranked &b) {
        if (a.filled != b.filled) return bool(b.filled);
        if (a.high != b.high) return a.high < b.high;
        if (a.low != b.low) return a.low < b.low;
        // Equal keys held whole: the lines are equal. Else the same collator that made the keys
        // decides, so that keys and comparisons never disagree.
        if (!a.whole || !b.whole) {
            const QString &x = lines.at(a.row), &y = lines.at(b.row);
            const UCollationResult c = ucol_strcoll(
                m_keyCollator.get(), reinterpret_cast<const UChar *>(x.utf16()), int(x.size()),
                reinterpret_cast<const UChar *>(y.utf16()), int(y.size()));
            if (c != UCOL_EQUAL) return c == UCOL_LESS;
        }
        return a.row < b.row;
    });
    // The sorted rows put in place by following each cycle of the permutation once.
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (ranks[std::size_t(i)].row == quint32(i)) continue;
        QString held = std::move(lines[i]);
        qsizetype at = i;
        for (;;) {
            const qsizetype from = qsizetype(ranks[std::size_t(at)].row);
            ranks[std::size_t(at)].row = quint32(at);
            if (from == i) break;
            lines[at] = std::move(lines[from]);
            at = from;
        }
        lines[at] = std::move(held);
    }
    return true;
}

void LabelListModel::replace(QStringList lines)
{
    // Weighed in file order, while the lines still lie in memory as they were read.
    Weight weight;
    for (const QString &line : std::as_const(lines)) weight.add(weigh(line), 1);
    // A file the list saved is in order already, and is taken as it is. Equal lines keep their
    // order, so that a file in order but for equal entries comes back line for line.
    if (!std::is_sorted(lines.cbegin(), lines.cend(), order()) &&
        !(m_keyCollator && sortLines(lines)))
        std::stable_sort(lines.begin(), lines.end(), order());
    beginResetModel();
    m_entries = std::move(lines);
    m_weight = weight;
    endResetModel();
}

int openLabelList(const QString &path, LabelListModel &list)
{
    QStringList lines;
    platform::Encoding encoding;
    if (const int err = platform::readLines(path, lines, encoding, MaxLabelListEntries)) return err;
    list.setEncoding(encoding);
    list.replace(std::move(lines));
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
