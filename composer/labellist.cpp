// labellist: the entries of the label list, sorted, and the list's file.
#include "labellist.h"

#include <algorithm>

LabelListModel::LabelListModel(QObject *parent) : QAbstractListModel(parent)
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
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

void LabelListModel::replace(QStringList lines)
{
    // A file the list saved is in order already, and is taken as it is. Stable, so that a file
    // in order but for equal entries comes back line for line.
    if (!std::is_sorted(lines.cbegin(), lines.cend(), order()))
        std::stable_sort(lines.begin(), lines.end(), order());
    Weight weight;
    for (const QString &line : std::as_const(lines)) weight.add(weigh(line), 1);
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
