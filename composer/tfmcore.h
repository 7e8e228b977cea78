// tfmcore: what the main window computes, without the window: the label string (tfmlabel), the
// running numbers, the built-in code tables, the code-list files, the group filters and the
// search matching. The window's handlers read their widgets, call these and write the result
// back.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "tfmlabel.h"

#include <array>
#include <cstdint>
#include <exception>

// ---- Errors that reach the message loop ----

// A failure of a command, carrying the text the user is shown.
class RunError : public std::exception {
  public:
    explicit RunError(const QString &message);
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

  private:
    QString m_message;
    QByteArray m_what;
};

// A text that is not a 32-bit decimal integer.
class ConvertError : public RunError {
  public:
    explicit ConvertError(const QString &text);
};

// A 32-bit addition that does not fit.
class IntOverflowError : public RunError {
  public:
    IntOverflowError();
};

// A file that cannot be created or opened; the reason is the system's text for the number. A
// file the program itself refuses to read (too large, too many lines) is told in Norwegian,
// as the program's own refusal, not in the system's words.
class FileCreateError : public RunError {
  public:
    FileCreateError(const QString &path, int error);
};
class FileOpenError : public RunError {
  public:
    // lineLimit, where given, is the most lines the refused file could have had.
    FileOpenError(const QString &path, int error, qsizetype lineLimit = -1);
};

// The system's description of a Windows error number, ending in ".".
QString systemErrorText(int error);

// ---- Running numbers ----

// Reads a signed 32-bit decimal: leading blanks, an optional sign, digits to the end.
std::int32_t strToInt(const QString &text);
// The number one higher, padded with "0" to the text's width (after a minus sign); "" stays
// "".
QString stepRunningNumber(const QString &text);

// ---- Built-in code tables ----

enum class CodeTable {
    Lokalisering,
    SystemHovedgruppe,
    ProduktHovedgruppe,
    Tekst,
    Systemgruppe,
    System,
    Produkt,
};

// The rows of a built-in table, in their order.
const QStringList &builtInTable(CodeTable table);

// ---- Code-list files ----

// A code-list file and what goes with it in the window: the box it fills, the group box whose
// choice narrows it and how many leading characters that group compares (none: nullptr, 0),
// the tag of its edit button (none: 0), and the built-in table its factory file is written
// from.
struct CodeList {
    const char *file;
    const char *box;
    const char *groupBox;
    int groupWidth;
    int editTag;
    CodeTable table;
};

// The five files, in the order in which they are written and reloaded.
inline constexpr std::array<CodeList, 5> CodeLists = {{
    {"tfm-lokalisering.txt", "Lokalisering", nullptr, 0, 1, CodeTable::Lokalisering},
    {"tfm-system.txt", "System", "SystemUnderCOmbo", 2, 2, CodeTable::System},
    {"tfm-systemgruppe.txt", "SystemUnderCOmbo", "SystemCombo", 1, 0, CodeTable::Systemgruppe},
    {"tfm-produkt.txt", "Produkt", "ProduktCombo", 1, 3, CodeTable::Produkt},
    {"tfm-tekst.txt", "Tekst", nullptr, 0, 4, CodeTable::Tekst},
}};

// The files' names alone, in the same order.
inline constexpr std::array<const char *, CodeLists.size()> CodeListFiles = [] {
    std::array<const char *, CodeLists.size()> files{};
    for (std::size_t i = 0; i < CodeLists.size(); ++i) files[i] = CodeLists[i].file;
    return files;
}();

// The most lines a code-list file may have: a third of a thousand times what the largest table
// holds, and still small enough that each list, as the window's rows, stays within tens of
// megabytes.
inline constexpr qsizetype MaxCodeListLines = 100'000;

// The data folder ("data\tfm", looked up anew every time) followed by the file name.
QString codeListPath(const QString &fileName);
// Writes rows to a file that does not exist yet (ANSI code page, CR LF), whole through a
// temporary file, so that a failed write leaves no file; an existing file is left as it is.
// Throws FileCreateError.
void writeFactoryFile(const QString &path, const QStringList &rows);
// The rows of an existing file, byte-order mark honoured. False (rows untouched) when the file
// does not exist; throws FileOpenError when it exists but cannot be read, or has more than
// MaxCodeListLines lines (counted before a row is made).
bool readCodeList(const QString &path, QStringList &rows);
// The file behind an edit button's tag, or "" for a tag that no code list has.
QString editButtonFile(int tag);
// The start guide of the standard, opened from the window's foot line.
QString startGuideAddress();

// ---- Group filters and group matching ----

// The first chars characters of both texts are equal; a text shorter than that never matches.
bool sameGroup(const QString &entry, const QString &text, int chars);
// The lines of a code-list file, read line by line and trimmed, that are in the group of entry.
// False when the file could not be opened (the checked reader has told the user); throws
// FileOpenError for a file of more than MaxCodeListLines lines, found before the line after them
// is read.
bool groupLines(const QString &path, const QString &entry, int chars, QStringList &lines);
// The first entry in the group of text, or -1.
int groupIndex(const QStringList &entries, const QString &text, int chars);

// ---- Searches ----

// The first line from index from on that holds text, both upper-cased unit by unit; -1 when
// none does. An empty text never matches.
int searchLines(const QStringList &lines, const QString &upperText, int from);
