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
    void parseLines(const QStringList &lines);

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
    struct Section {
        QString name;
        QStringList lines;
        // Where a section is long, its keys are found through a table of line numbers, open
        // addressing by the folded key's hash; made at the first lookup, kept up with every
        // line added.
        mutable std::vector<qint32> keySlots;
        mutable qsizetype indexed = 0;
        bool operator==(const Section &other) const
        {
            return name == other.name && lines == other.lines;
        }
    };

    void clearFor(const QString &fileName);
    void parseLine(QStringView raw);
    void appendSection(const QString &name);
    void addLine(Section &section, const QString &line);
    qsizetype findSection(const QString &folded) const;
    static qsizetype findKey(const Section &section, const QString &folded);
    static void indexKeys(const Section &section);
    static void indexKey(const Section &section, qint32 line);

    QList<Section> m_sections;
    // The folded name of each section to the last section of that name.
    QHash<QString, qsizetype> m_sectionIndex;
    QString m_fileName;
    platform::Encoding m_encoding = platform::Encoding::Ansi;
    int m_readError = 0;
    // What the file held when this document last read it; none while unknown or while the file
    // did not exist. Once the file has been written, m_written says it holds the document until
    // the document changes.
    mutable std::optional<QByteArray> m_onDisk;
    mutable bool m_written = false;
};
