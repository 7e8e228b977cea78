// textlines: a whole text file as a list of lines: its decoding and encoding, and its
// reading and writing in one piece, the write replacing the file whole where asked.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace platform {

enum class Encoding { Ansi, Utf8, Utf16LE, Utf16BE };

// Decodes a whole file, line by line: a UTF-8/UTF-16 byte-order mark selects that encoding (and
// is remembered in enc), otherwise the ANSI code page. CR LF, lone CR and lone LF end a line; a
// final line end adds no entry.
QStringList decodeLines(QByteArrayView data, Encoding &enc);
// UTF-16 code units as they lie, any unit kept (a lone surrogate half too); an odd last byte
// becomes a replacement character.
QString decodeUtf16(QByteArrayView bytes, bool bigEndian);
// CR LF after every line, with the byte-order mark of enc (none for Ansi).
QByteArray encodeLines(const QStringList &lines, Encoding enc);
// The encoding a list is actually written in, so that nothing is lost: a list the ANSI code
// page cannot hold goes to UTF-8 with a byte-order mark, and one that holds a lone surrogate
// half (which UTF-8 cannot carry) to UTF-16 LE with its mark.
Encoding writableEncoding(const QStringList &lines, Encoding wanted);

// The largest file read whole: far more than any settings file, log or code list holds, and
// small enough that a runaway file never fills the memory.
constexpr std::int64_t MaxTextFileSize = std::int64_t(64) << 20;

// 0, or 223 with a notice of its own for a text file larger than MaxTextFileSize.
int checkTextFileSize(const QString &path, std::int64_t size);

// The whole file as it lies on disk. Returns the error number; on failure data is left empty.
// A file larger than MaxTextFileSize is refused (223) with a notice of its own.
int readBytes(const QString &path, QByteArray &data);
// The lines decodeLines would give, counted over the bytes without decoding them; counting
// stops past limit (when it is not negative), so the answer is then limit + 1.
qsizetype countLines(QByteArrayView data, qsizetype limit = -1);
// Returns the error number; on failure lines is left empty and enc is Ansi. The file is read
// piece by piece and each line decoded on its own, so no more than a piece of its bytes is
// held beside the lines. A file larger than MaxTextFileSize is refused (223) with a notice of
// its own; one of more than maxLines lines (when it is not negative) is refused
// (ErrTooManyLines) before a line is made, so a refusal costs no more than reading the file.
int readLines(const QString &path, QStringList &lines, Encoding &enc, qsizetype maxLines = -1);
// What the lines of a file hold, counted before they are decoded: how many there are, how many
// bytes they hold (their ends not included), and whether every letter is one of the first 256
// (false also where a byte only might make one beyond them).
struct LineCount {
    qsizetype lines = 0;
    std::int64_t bytes = 0;
    bool latin1 = true;
};
// The lines readLines gives, each handed to line(text) as it is decoded instead of kept in a
// list, with the same refusals, each before the first line. Where counted is given, it is told
// first what the lines hold. A failure may come after some lines were handed over: the caller
// drops what it made of them.
int walkLines(const QString &path, Encoding &enc, qsizetype maxLines,
              const std::function<void(const LineCount &)> &counted,
              const std::function<void(QString line)> &line);
// The mode a write gives an existing file: its own, kept.
constexpr int KeepMode = -1;

// Writes lines in writableEncoding(lines, enc). With atomic, the file is replaced whole as
// replaceFile does. A mode other than KeepMode is the file's mode afterwards, new or not;
// with KeepMode an existing file keeps its permissions and a new one gets those of a plain
// create. Returns the error number.
int writeLines(const QString &path, const QStringList &lines, Encoding enc, bool atomic = false,
               int mode = KeepMode);
// Replaces the file whole with bytes, through a temporary file in the same folder that has no
// name until it is complete where the file system allows (else one named after the file, with
// ".tmp-" and six letters or digits after it), so that a crash leaves the old file and nothing
// beside it. A read-only file is refused (5) before anything is written. A link is followed, so
// the link stays and its target is replaced. Where the folder takes no temporary file but the
// file exists, it is rewritten in place instead, but only when the room for the new bytes could
// be reserved first; else (a full disk) the file is left as it was. Anything in the file's place
// that is not a regular file is refused (5). Temporaries that an earlier run left beside the
// file are removed first. Returns the error number.
int replaceFile(const QString &path, const QByteArray &bytes, int mode = KeepMode);
// Removes what an earlier run left beside file when it was ended during a replace: regular files
// of this user, with no other name, named as replaceFile names its temporaries, last changed
// before `before` (by default the start of this process). Any other file stays.
void removeStaleTemporaries(const QString &file, const QDateTime &before = {});

// Test seams: a step of a replace (the bytes are in the temporary; the temporary is about to
// take the file's name), and whether temporaries without a name are tried at all.
enum class ReplaceStep { Written, Placing };
void setReplaceSeam(std::function<void(ReplaceStep)> seam);
void setUnnamedTemporaries(bool allowed);

} // namespace platform
