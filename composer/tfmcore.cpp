// tfmcore: what the main window computes, without the window.
#include "tfmcore.h"

#include "folders.h"
#include "labellist.h"
#include "platform.h"
#include "textfil.h"

#include <QFile>

#include <algorithm>
#include <limits>

// Resources of a static library are pulled in only when something names them.
static void initComposerResources() { Q_INIT_RESOURCE(codetables); }

// ---- Errors ----

RunError::RunError(const QString &message) : m_message(message), m_what(message.toUtf8()) {}

ConvertError::ConvertError(const QString &text)
    : RunError(u'\'' + text + QStringLiteral("' is not a valid integer value"))
{
}

IntOverflowError::IntOverflowError() : RunError(QStringLiteral("Integer overflow")) {}

FileCreateError::FileCreateError(const QString &path, int error)
    : RunError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, systemErrorText(error)))
{
}

namespace {

// The refusals of the whole-file reader, which no system call gives; empty for any other number.
QString readRefusalText(int error, qsizetype lineLimit)
{
    switch (error) {
    case platform::ErrFileTooLarge:
        return QStringLiteral("Filen \"%1\" kan ikke åpnes: den er større enn %2 MiB, mer enn "
                              "programmet leser.")
            .arg(u"%1", QString::number(platform::MaxTextFileSize >> 20));
    case platform::ErrTooManyLines:
        if (lineLimit >= 0)
            return QStringLiteral("Filen \"%1\" kan ikke åpnes: den har flere enn %2 linjer, mer "
                                  "enn en kodeliste kan ha.")
                .arg(u"%1", groupedNumber(lineLimit));
        return QStringLiteral("Filen \"%1\" kan ikke åpnes: den har flere enn %2 linjer, mer enn "
                              "listen tar.")
            .arg(u"%1", groupedNumber(MaxLabelListEntries));
    default: return QString();
    }
}

} // namespace

FileOpenError::FileOpenError(const QString &path, int error, qsizetype lineLimit)
    : RunError(readRefusalText(error, lineLimit).isEmpty()
                   ? QStringLiteral("Cannot open file \"%1\". %2").arg(path, systemErrorText(error))
                   : readRefusalText(error, lineLimit).arg(path))
{
}

QString systemErrorText(int error)
{
    switch (error) {
    case platform::ErrFileNotFound:
        return QStringLiteral("The system cannot find the file specified.");
    case platform::ErrPathNotFound:
        return QStringLiteral("The system cannot find the path specified.");
    case platform::ErrTooManyFiles: return QStringLiteral("The system cannot open the file.");
    case platform::ErrAccessDenied: return QStringLiteral("Access is denied.");
    case platform::ErrSharingViolation:
        return QStringLiteral(
            "The process cannot access the file because it is being used by another process.");
    case platform::ErrDiskFull: return QStringLiteral("There is not enough space on the disk.");
    case platform::ErrInvalidName:
        return QStringLiteral("The filename, directory name, or volume label syntax is incorrect.");
    case platform::ErrFilenameTooLong:
        return QStringLiteral("The filename or extension is too long.");
    default: return QStringLiteral("System error %1.").arg(error);
    }
}

// ---- Running numbers ----

std::int32_t strToInt(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == u' ') ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    if (i == text.size()) throw ConvertError(text);
    // Accumulated as a negative number, which reaches the 32-bit minimum too.
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9') throw ConvertError(text);
        value = value * 10 - (c - u'0');
        if (value < std::numeric_limits<std::int32_t>::min()) throw ConvertError(text);
    }
    if (!negative) {
        value = -value;
        if (value > std::numeric_limits<std::int32_t>::max()) throw ConvertError(text);
    }
    return std::int32_t(value);
}

QString stepRunningNumber(const QString &text)
{
    const qsizetype width = text.size();
    if (width == 0) return text;
    const std::int32_t value = strToInt(text);
    if (value == std::numeric_limits<std::int32_t>::max()) throw IntOverflowError();
    QString stepped = QString::number(value + 1);
    // The zeros go after a minus sign: "0-8" would be no number at the next step.
    if (stepped.size() < width)
        stepped.insert(stepped.startsWith(u'-') ? 1 : 0, QString(width - stepped.size(), u'0'));
    return stepped;
}

// ---- Built-in code tables ----

const QStringList &builtInTable(CodeTable table)
{
    static const char *const files[] = {
        "tfm-lokalisering.txt", "tfm-systemhovedgruppe.txt", "tfm-produkthovedgruppe.txt",
        "tfm-tekst.txt",        "tfm-systemgruppe.txt",      "tfm-system.txt",
        "tfm-produkt.txt"};
    static QStringList tables[std::size(files)];
    static bool loaded[std::size(files)] = {};

    const auto n = std::size_t(table);
    if (!loaded[n]) {
        initComposerResources();
        QFile file(QStringLiteral(":/codetables/") + QLatin1String(files[n]));
        if (file.open(QIODevice::ReadOnly)) {
            // One row a line, every line ended by LF; rows keep their blanks.
            QString text = QString::fromUtf8(file.readAll());
            if (text.endsWith(u'\n')) text.chop(1);
            if (!text.isEmpty()) tables[n] = text.split(u'\n');
        }
        loaded[n] = true;
    }
    return tables[n];
}

// ---- Code-list files ----

QString codeListPath(const QString &fileName)
{
    return kalvenorpath(QStringLiteral("data\\tfm")) + fileName;
}

void writeFactoryFile(const QString &path, const QStringList &rows)
{
    if (platform::fileExists(path)) return;
    // Whole or not at all: a torn file would be loaded as it is on every later start, and
    // never filled again, since only a missing file is written.
    const int err = platform::writeLines(path, rows, platform::Encoding::Ansi, true);
    if (err) throw FileCreateError(path, err);
}

bool readCodeList(const QString &path, QStringList &rows)
{
    if (!platform::fileExists(path)) return false;
    QStringList lines;
    platform::Encoding encoding;
    const int err = platform::readLines(path, lines, encoding, MaxCodeListLines);
    if (err) throw FileOpenError(path, err, MaxCodeListLines);
    rows = lines;
    return true;
}

QString editButtonFile(int tag)
{
    for (const CodeList &list : CodeLists)
        if (tag > 0 && list.editTag == tag) return QLatin1String(list.file);
    return QString();
}

QString startGuideAddress()
{
    return QStringLiteral(
        "https://www.statsbygg.no/files/publikasjoner/tfm/PA0802-TFM-startveiledning.pdf");
}

// ---- Group filters and group matching ----

bool sameGroup(const QString &entry, const QString &text, int chars)
{
    if (entry.size() < chars || text.size() < chars) return false;
    return QStringView(entry).left(chars) == QStringView(text).left(chars);
}

bool groupLines(const QString &path, const QString &entry, int chars, QStringList &lines)
{
    lines.clear();
    textfile file;
    if (resetsafe(file, path) != 0) return false;
    QString line;
    qsizetype read = 0;
    while (!eoftextfile(file)) {
        // Refused as the reload refuses it: a file of little but line ends would be walked for
        // minutes. This reader never finds more lines than the reload's, so no file the reload
        // takes is refused here.
        if (++read > MaxCodeListLines) {
            closesafe(file);
            lines.clear();
            throw FileOpenError(path, platform::ErrTooManyLines, MaxCodeListLines);
        }
        readlnsafe(file, line);
        if (sameGroup(line, entry, chars)) lines.append(line);
    }
    closesafe(file);
    return true;
}

int groupIndex(const QStringList &entries, const QString &text, int chars)
{
    if (text.size() < chars) return -1;
    for (qsizetype i = 0; i < entries.size(); ++i)
        if (sameGroup(entries.at(i), text, chars)) return int(i);
    return -1;
}

// ---- Searches ----

int searchLines(const QStringList &lines, const QString &upperText, int from)
{
    if (upperText.isEmpty()) return -1;
    for (qsizetype i = std::max(from, 0); i < lines.size(); ++i)
        if (platform::upperCase(lines.at(i)).contains(upperText)) return int(i);
    return -1;
}
