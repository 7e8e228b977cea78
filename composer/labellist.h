// labellist: the entries of the label list in the order of the user's locale, letter case
// aside, and the list's file. Window-free (QtCore only), so the fuzz build compiles it too.
#pragma once

#include "labelstore.h"
#include "platform.h"

#include <QAbstractListModel>
#include <QCollator>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

struct UCollator;

class LabelListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    // The order is that of the default locale at the time the list is made.
    explicit LabelListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    int count() const { return int(m_entries.size()); }
    // The entry as a string: shared where it is held as one, else made.
    QString entry(int row) const { return m_entries.at(row); }
    // Calls f with the entry as a QStringView or a QLatin1StringView, without copying it.
    template <class F> decltype(auto) visitEntry(int row, F &&f) const
    {
        return m_entries.visit(row, std::forward<F>(f));
    }
    QStringList entries() const { return m_entries.all(); }

    // Why an entry is not taken: the list saved would be a file that opening refuses.
    enum class Refusal { None, TooManyEntries, TooLarge };
    // Puts the entry at its sorted place, after any equal ones, and returns its row; -1 (and
    // why, where asked) when the list saved with it could not be opened again.
    int add(const QString &entry, Refusal *why = nullptr);
    void remove(int row);
    // Replaces all entries by lines, sorted once; equal ones keep their order.
    void replace(const QStringList &lines);
    // The same for lines already in a store, in the order they were appended; fileSize, where
    // known, is the size of the file they were read from, which bounds what the sort may take.
    void adopt(LabelStore lines, std::int64_t fileSize = -1);
    // The size of the file saving would write now, in the encoding it would use.
    std::int64_t writtenSize() const;

    // The encoding of the last file opened into the list; saving uses it.
    platform::Encoding encoding() const { return m_encoding; }
    void setEncoding(platform::Encoding encoding) { m_encoding = encoding; }

  private:
    // What the entries weigh in each encoding they may be written in, kept as they change, so
    // that no add has to encode the whole list again.
    struct Weight {
        std::int64_t units = 0; // UTF-16 code units, one byte each in the code page
        std::int64_t utf8 = 0;
        qsizetype notAnsi = 0; // entries the code page cannot hold
        qsizetype notUtf8 = 0; // entries with a lone surrogate half
        void add(const Weight &w, int sign);
    };
    static Weight weigh(QStringView entry);
    // Sorts lines into the list's order, equal ones in their order, by m_keyCollator's keys;
    // false, with lines as they were, where the keys cannot be had. units, the UTF-16 units of
    // all lines, chooses how much of each key the sort keeps beside a line.
    bool sortLines(LabelStore &lines, std::int64_t units, std::int64_t fileSize) const;
    void sortInPlace(LabelStore &lines) const;
    template <class Ranked> bool sortRanked(LabelStore &lines) const;
    bool inOrder(const LabelStore &lines) const;
    std::int64_t writtenSize(const Weight &w, qsizetype count, QStringView first) const;

    QCollator m_collator;
    // The collation library's collator for the same order, for the keys an open sorts by;
    // null where there is none (the C locale).
    std::unique_ptr<UCollator, void (*)(UCollator *)> m_keyCollator;
    LabelStore m_entries;
    Weight m_weight;
    platform::Encoding m_encoding = platform::Encoding::Ansi;
};

// Far more entries than any project's list holds; a file of little but line ends would otherwise
// take many times its size in memory.
inline constexpr qsizetype MaxLabelListEntries = 1'000'000;

// A number with its thousands set apart by blanks, as Norwegian writes it ("1 000 000").
QString groupedNumber(std::int64_t number);
// The box text for an entry the list refuses.
QString refusalText(LabelListModel::Refusal why);

// Reads a label-list file into the list, which is left as it was when the file cannot be read
// or holds more than MaxLabelListEntries lines (ErrTooManyLines). Returns the error number.
int openLabelList(const QString &path, LabelListModel &list);
// The encoding a list is saved in: the remembered one where it holds every entry and the file
// cannot be mistaken for one with a byte-order mark, else UTF-8 with its mark.
platform::Encoding saveEncoding(const QStringList &entries, platform::Encoding remembered);
// Writes the list whole in its encoding, replacing the file only once the new one is complete.
// Returns the error number.
int saveLabelList(const QString &path, const LabelListModel &list);
