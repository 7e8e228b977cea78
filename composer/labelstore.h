// labelstore: the label list's entries, held so that a list of a million short lines costs a
// few bytes a line and not a string each. The lines of an opened file lie in one block, each
// after its length, in one byte a letter while every letter fits in one, else in UTF-16; each
// row is one 32-bit position. A long line stays the string it was decoded into, with only its
// place in the block, so that it is never held twice; entries added later are strings of their
// own, so that an add never moves the opened text.
#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <span>

class LabelStore {
  public:
    LabelStore() = default;
    LabelStore(LabelStore &&other) noexcept { swap(other); }
    LabelStore &operator=(LabelStore &&other) noexcept
    {
        LabelStore(std::move(other)).swap(*this);
        return *this;
    }
    LabelStore(const LabelStore &) = delete;
    LabelStore &operator=(const LabelStore &) = delete;
    ~LabelStore();
    void swap(LabelStore &other) noexcept;

    qsizetype size() const { return m_rows.size; }
    // What the block of opened lines holds, in bytes.
    std::int64_t heldBytes() const
    {
        return m_narrow.size + std::int64_t(sizeof(char16_t)) * m_wide.size;
    }

    // Room for lines more lines of units UTF-16 units in all, so that appending them never
    // moves what is there. With wide, an empty store takes them in UTF-16 from the start, so
    // that a letter beyond one byte late in a file does not find the block to be rewritten.
    void reserve(qsizetype lines, qsizetype units, bool wide = false);
    // An opened line as the last row. Rows appended so are in the order of their positions.
    void append(const QString &line);
    // An entry added later, at row; the rows from there on move down one.
    void insert(qsizetype row, const QString &entry);
    void remove(qsizetype row);

    // Calls f with the entry as a QStringView, or as a QLatin1StringView where the block holds
    // it a byte a letter; nothing is copied.
    template <class F> decltype(auto) visit(qsizetype row, F &&f) const
    {
        return visitAt(m_rows.data[row], std::forward<F>(f));
    }
    // The entry as UTF-16, copied into scratch only where the block holds it in bytes.
    QStringView view(qsizetype row, QString &scratch) const
    {
        return viewAt(m_rows.data[row], scratch);
    }
    QString at(qsizetype row) const;
    QStringList all() const;

    // The rows as positions, to be put in another order; an opened line's position orders it
    // among the others as they were appended.
    std::span<quint32> rows() { return {m_rows.data, std::size_t(m_rows.size)}; }
    template <class F> decltype(auto) visitAt(quint32 position, F &&f) const
    {
        if (position & Added) return f(QStringView(m_added.at(position & ~Added)));
        const Text t = textAt(position);
        if (t.wide) return f(QStringView(static_cast<const char16_t *>(t.units), t.length));
        return f(QLatin1StringView(static_cast<const char *>(t.units), t.length));
    }
    QStringView viewAt(quint32 position, QString &scratch) const;
    // Only opened lines are given positions below this.
    static constexpr quint32 Added = quint32(1) << 31;

    // For a sort that needs the rows' room for itself: the rows are given up in memory of
    // std::malloc grown to bytes, at its start, and later taken back from such memory holding
    // count positions, with room for capacity.
    void *takeRows(std::size_t bytes);
    void adoptRows(quint32 *rows, qsizetype count, qsizetype capacity);

  private:
    struct Text {
        const void *units;
        qsizetype length;
        bool wide;
    };
    Text textAt(quint32 position) const;
    // What stands before a line in the block, and where its units begin.
    struct Header {
        qsizetype value;
        const void *units;
    };
    Header headerAt(quint32 position) const;
    // Rewrites the opened lines in UTF-16, with room for moreUnits more.
    void widen(qsizetype moreUnits);

    // Memory of std::malloc that grows in place where it can: a large block is moved by
    // remapping its pages, not by copying them.
    template <class T> struct Buffer {
        T *data = nullptr;
        qsizetype size = 0;
        qsizetype capacity = 0;
        void reserve(qsizetype n);
    };
    // The opened lines: in m_narrow a byte a letter, until a line has a letter beyond one byte;
    // from then on all of them in m_wide.
    Buffer<char> m_narrow;
    Buffer<char16_t> m_wide;
    bool m_isWide = false;
    Buffer<quint32> m_rows;
    QStringList m_added; // an entry removed leaves a null string
    QStringList m_long;  // opened lines held as strings of their own
};
