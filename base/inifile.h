// inifile: an INI document held in memory, read from and written back to one settings file in
// the form that every program of the base library shares.
#pragma once

#include "platform.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class IniDocument {
  public:
    IniDocument() = default;
    // load(fileName); a failure is kept in readError().
    explicit IniDocument(const QString &fileName);

    // Replaces the document with the file's content. A missing file gives an empty document
    // and 0; a file that exists but cannot be read gives an empty document and the error
    // number, and from then on the document refuses to replace that file.
    int load(const QString &fileName);
    // As load, from a handle already open on the file, so that what is read is the very file
    // that was checked; the handle stays open.
    int load(const QString &fileName, platform::FileHandle opened);
    // Replaces the document with the content of a whole file, its byte-order mark included.
    void parse(QByteArrayView data);

    // The file's lines as a write-back produces them.
    QStringList lines() const;
    // The file's bytes, in the encoding it was read in (UTF-8 with a mark where the ANSI code
    // page cannot hold the text).
    QByteArray toBytes() const;
    // Replaces the file whole, through a temporary file, never over a read-only file; where
    // the file already holds exactly these bytes (as last read or written here), nothing is
    // written. Bytes that the reader would refuse as too large are not written either (223): the
    // file keeps what it held. A mode other than KeepMode is the file's mode afterwards. Returns
    // the error number, 0 on success; the document is unchanged either way.
    int updateFile(int mode = platform::KeepMode) const;

    const QString &fileName() const { return m_fileName; }
    void setFileName(const QString &fileName)
    {
        m_fileName = fileName;
        m_onDisk.reset();
        m_measured.reset();
        m_written = false;
    }
    platform::Encoding encoding() const { return m_encoding; }
    int readError() const { return m_readError; }

    // Sections and keys are found by platform::upperCase; where a name occurs twice, the later
    // one counts. A CR or LF written in a section, key or value is stored as a blank.
    bool sectionExists(const QString &section) const;
    bool valueExists(const QString &section, const QString &key) const;
    QString readString(const QString &section, const QString &key, const QString &def) const;
    std::int32_t readInteger(const QString &section, const QString &key, std::int32_t def) const;
    bool readBool(const QString &section, const QString &key, bool def) const;
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, std::int32_t value);
    void writeBool(const QString &section, const QString &key, bool value);

    // Every section name in document order, duplicates included.
    QStringList sectionNames() const;
    // The lines of the section that reads go to; empty when it is missing.
    QStringList sectionLines(const QString &section) const;

    // Same sections, lines and encoding.
    bool operator==(const IniDocument &other) const;

    // "0x10" and "$10" are 16; leading blanks, a sign, decimal or "$"/"x"/"X" hexadecimal,
    // within 32 bits signed. False for anything else.
    static bool toInteger(const QString &text, std::int32_t &value);

  private:
    // Positions are in code units of the text as read; a line of the file is named by where its
    // trimmed content starts. Lines this document wrote or added are kept as strings beside it.
    struct Span {
        quint32 begin = 0;
        quint32 end = 0;
        bool isNull() const { return begin == NoPos; }
    };
    static constexpr quint32 NoPos = 0xFFFFFFFFu;
    // A line reference: a position in the text, or AddedLine | its index in Extra::added.
    static constexpr quint32 AddedLine = 0x80000000u;
    // A section read costs four bytes: most of a large file's are never looked into.
    static constexpr quint32 HasExtra = 0x80000000u;
    struct Section {
        quint32 at; // where the "[" of its line stands, with HasExtra where it has an Extra
        quint32 header() const { return at & ~HasExtra; }
    };
    // Items (sections, lines) by the hash of their folded name: open addressing, each entry with
    // its hash, so that a probe seldom reads a name it does not want and growing reads none. Its
    // memory comes zeroed from the system, so that slots never used cost nothing; in large pages
    // only where m_largeTables allows, since one slot used then makes 2 MiB resident.
    class NameTable {
      public:
        NameTable() = default;
        NameTable(const NameTable &other);
        NameTable(NameTable &&) = default;
        NameTable &operator=(NameTable other);
        bool isEmpty() const { return m_size == 0; }
        // An empty table with room for n entries before it grows, in large pages where asked
        // (see platform::allocateZeroed), it and the tables it grows into.
        void reserve(std::size_t n, bool largePages);
        // same(item) says whether an entry is this item's name, which then takes its place.
        template <class Same> void insert(quint32 hash, quint32 item, Same same);
        template <class Same> quint32 find(quint32 hash, Same same) const;
        void prefetch(quint32 hash) const;

      private:
        struct Slot {
            quint32 hash;
            quint32 item; // the item + 1; 0 where free
        };
        struct Free {
            std::size_t bytes;
            bool largePages;
            void operator()(Slot *p) const;
        };
        void allocate(std::size_t size, bool largePages);
        std::size_t slotOf(quint32 hash) const
        {
            return std::size_t((quint64(hash) * m_size) >> 32);
        }
        void place(Slot slot);
        std::unique_ptr<Slot[], Free> m_slots;
        std::size_t m_size = 0;
        std::size_t m_used = 0;
    };
    // What a section holds beyond its text, made only for sections looked into or written.
    struct Extra {
        QString name; // of a section added here
        // Line references by the folded key, made at the first lookup.
        NameTable keys;
        QHash<quint32, QString> replaced;
        QStringList added;
    };
    class Writer;

    void clearFor(const QString &fileName);
    void parseOwned(const QByteArray &data);
    void scanSections();
    template <class F> decltype(auto) withUnits(F f) const;
    QStringView chars(Span span, QString &scratch) const;
    QString text(Span span) const;
    qsizetype sectionCount() const { return qsizetype(m_sections.size() + m_added.size()); }
    bool isAdded(qsizetype index) const { return std::size_t(index) >= m_sections.size(); }
    Span nameSpan(qsizetype index) const;
    QStringView nameOf(qsizetype index, QString &scratch) const;
    QString sectionName(qsizetype index) const;
    Span body(qsizetype index) const;
    template <class F> void forEachBodyLine(qsizetype index, F f) const;
    Span lineAt(quint32 begin) const;
    Span keyOf(Span line) const;
    Span valueOf(Span line) const;
    QString lineText(const Extra *extra, quint32 ref, Span line) const;
    QString refText(const Extra &extra, quint32 ref) const;
    QStringView refKey(const Extra &extra, quint32 ref, QString &scratch) const;
    QStringList bodyLines(qsizetype index) const;
    Extra &extraOf(qsizetype index) const;
    const Extra *extraIf(qsizetype index) const;
    void indexSection(qsizetype index, quint32 hash);
    qsizetype findSection(const QString &folded) const;
    bool sameName(qsizetype a, qsizetype b) const;
    quint32 findKey(qsizetype index, const QString &folded) const;
    void indexKeys(Extra &extra, qsizetype index) const;
    void indexKey(Extra &extra, quint32 ref, quint32 hash) const;
    void indexAdded(Extra &extra, qsizetype i) const;
    quint32 spanHash(Span span) const;
    quint32 sectionHash(qsizetype index) const;
    platform::Encoding writtenEncoding() const;
    void write(Writer &out) const;

    // The file's bytes as read (the mark included); UTF-16 text is held in m_wide instead.
    QByteArray m_bytes;
    QString m_wide;
    quint32 m_begin = 0;                     // where the text starts in m_bytes, past its mark
    quint32 m_size = 0;                      // where it ends
    mutable std::vector<Section> m_sections; // those read, in the text's order
    mutable std::vector<qint32> m_added;     // the extra of each section added after them
    mutable std::vector<Extra> m_extras;
    mutable QHash<quint32, qint32> m_readExtras; // the extra of each section read that has one
    // Room for the names and keys being compared, kept so that each comparison makes none.
    mutable QString m_scratch[2];
    // Sections by the folded name; of two of one name, the later.
    NameTable m_sectionTable;
    // Whether the tables of names may take large pages: only where every table the text could
    // need, were each filled throughout, stays within what a settings file may cost.
    bool m_largeTables = false;
    QString m_fileName;
    platform::Encoding m_encoding = platform::Encoding::Ansi;
    int m_readError = 0;
    // What the file held when this document last read it; none while unknown or while the file
    // did not exist. Once the file has been written, m_written says it holds the document until
    // the document changes.
    mutable std::optional<QByteArray> m_onDisk;
    mutable bool m_written = false;
    // What the last write-back measured, while the document stays as it was: its size, and
    // whether it differs from the file.
    mutable std::optional<std::pair<qint64, bool>> m_measured;
};
