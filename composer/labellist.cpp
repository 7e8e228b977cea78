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
    return QStringList(m_entries.begin(), m_entries.end());
}

int LabelListModel::add(const QString &text)
{
    const auto at = std::upper_bound(m_entries.begin(), m_entries.end(), text, order());
    const int row = int(at - m_entries.begin());
    beginInsertRows(QModelIndex(), row, row);
    m_entries.insert(at, text);
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
    std::vector<QString> entries(lines.begin(), lines.end());
    // A file the list saved is in order already, and is taken as it is. Stable, so that a file
    // in order but for equal entries comes back line for line.
    if (!std::is_sorted(entries.begin(), entries.end(), order()))
        std::stable_sort(entries.begin(), entries.end(), order());
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
