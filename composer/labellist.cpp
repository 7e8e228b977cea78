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

QStringList LabelListModel::entries() const
{
    QStringList out;
    out.reserve(qsizetype(m_entries.size()));
    for (const Entry &e : m_entries) out.append(e.text);
    return out;
}

LabelListModel::Entry LabelListModel::makeEntry(const QString &text) const
{
    return {text, m_collator.sortKey(text)};
}

int LabelListModel::add(const QString &text)
{
    Entry e = makeEntry(text);
    const auto at = std::upper_bound(m_entries.begin(), m_entries.end(), e,
                                     [](const Entry &a, const Entry &b) { return a.key.compare(b.key) < 0; });
    const int row = int(at - m_entries.begin());
    beginInsertRows(QModelIndex(), row, row);
    m_entries.insert(at, std::move(e));
    endInsertRows();
    return row;
}

void LabelListModel::remove(int row)
{
    if (row < 0 || row >= count()) return;
    beginRemoveRows(QModelIndex(), row, row);
    m_entries.erase(m_entries.begin() + row);
    endRemoveRows();
}

void LabelListModel::replace(const QStringList &lines)
{
    std::vector<Entry> entries;
    entries.reserve(std::size_t(lines.size()));
    for (const QString &line : lines) entries.push_back(makeEntry(line));
    // Stable, so that a file already in order comes back line for line.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry &a, const Entry &b) { return a.key.compare(b.key) < 0; });
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
}

int openLabelList(const QString &path, LabelListModel &list)
{
    QStringList lines;
    platform::Encoding encoding;
    if (const int err = platform::readLines(path, lines, encoding, MaxLabelListEntries)) return err;
    list.setEncoding(encoding);
    list.replace(lines);
    return platform::NoError;
}

platform::Encoding saveEncoding(const QStringList &entries, platform::Encoding remembered)
{
    const platform::Encoding enc = platform::writableEncoding(entries, remembered);
    if (enc != platform::Encoding::Ansi || entries.isEmpty()) return enc;
    // Sorting can bring a line to the top whose first bytes in the code page are a byte-order
    // mark ("ÿþ", "þÿ", "ï»¿"); written so, the file would open as another encoding.
    const QByteArray start = platform::toAnsi(QStringView(entries.constFirst()).left(3));
    if (start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF") || start.startsWith("\xEF\xBB\xBF"))
        return platform::Encoding::Utf8;
    return enc;
}

int saveLabelList(const QString &path, const LabelListModel &list)
{
    const QStringList entries = list.entries();
    return platform::writeLines(path, entries, saveEncoding(entries, list.encoding()), true);
}
