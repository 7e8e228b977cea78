// textlines: whole-file lines with byte-order marks, the UTF-8 rescue of text the code page
// cannot hold, the atomic replace and its in-place fallback, and what a killed replace leaves.
#include "testsupport.h"
#include "textlines.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::Encoding;

Q_DECLARE_METATYPE(platform::Encoding)
Q_DECLARE_METATYPE(platform::ReplaceStep)

class TestTextlines : public QObject {
    Q_OBJECT
  private slots:
    void decodeLines_data();
    void readLinesAcrossPieces_data();
    void readLinesAcrossPieces();
    void decodeLines();
    void encodeLines_data();
    void encodeLines();
    void writeRescuesTextTheCodePageLacks();
    void readRemembersEncoding();
    void atomicWriteRefusesReadOnlyFile();
    void atomicWriteReplacesWhole();
    void atomicWriteKeepsTheMode_data();
    void atomicWriteKeepsTheMode();
    void atomicWriteThroughALink_data();
    void atomicWriteThroughALink();
    void atomicWriteUsesATemporaryOfItsOwn();
    void atomicWriteTakesTheLongestName_data();
    void atomicWriteTakesTheLongestName();
    void atomicWriteFailureLeavesNoTemporary();
    void atomicWriteInPlaceWithoutRoomForATemporary_data();
    void atomicWriteInPlaceWithoutRoomForATemporary();
    void inPlaceRewriteOnAFullDisk_data();
    void inPlaceRewriteOnAFullDisk();
    void atomicWriteGivesTheModeAsked_data();
    void atomicWriteGivesTheModeAsked();
    void killedReplaceLeavesNothingBehind_data();
    void killedReplaceLeavesNothingBehind();
    void staleTemporariesOnlyTheProgramsOwn_data();
    void staleTemporariesOnlyTheProgramsOwn();
};

namespace {

int modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

ino_t inodeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

void TestTextlines::decodeLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Encoding>("encoding");
    QTest::newRow("empty") << QByteArray() << QStringList() << Encoding::Ansi;
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"} << Encoding::Ansi;
    QTest::newRow("no final end") << QByteArray("a\r\nb") << QStringList{"a", "b"}
                                  << Encoding::Ansi;
    QTest::newRow("lone cr and lf")
        << QByteArray("a\rb\nc") << QStringList{"a", "b", "c"} << Encoding::Ansi;
    QTest::newRow("empty lines") << QByteArray("\r\n\r\nx\r\n\r\n") << QStringList{"", "", "x", ""}
                                 << Encoding::Ansi;
    QTest::newRow("lf cr is two ends")
        << QByteArray("a\n\rb") << QStringList{"a", "", "b"} << Encoding::Ansi;
    QTest::newRow("ansi") << QByteArray("\xe6\xf8\xe5\x80") << QStringList{"æøå€"}
                          << Encoding::Ansi;
    QTest::newRow("utf8 bom") << QByteArray("\xEF\xBB\xBFæ\r\n") << QStringList{"æ"}
                              << Encoding::Utf8;
    QTest::newRow("second mark is text")
        << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF"
                      "a")
        << QStringList{QStringLiteral(u"\uFEFFa")} << Encoding::Utf8;
    QTest::newRow("bom only") << QByteArray("\xEF\xBB\xBF") << QStringList() << Encoding::Utf8;
    QTest::newRow("utf16le") << QByteArray("\xFF\xFE"
                                           "a\0\r\0\n\0b\0",
                                           10)
                             << QStringList{"a", "b"} << Encoding::Utf16LE;
    QTest::newRow("utf16be") << QByteArray("\xFE\xFF\0a\0\n", 6) << QStringList{"a"}
                             << Encoding::Utf16BE;
    QTest::newRow("utf16le cr lf, odd byte")
        << QByteArray("\xFF\xFE\r\0\n\0\r\0x", 9) << QStringList{"", "", QStringLiteral(u"\uFFFD")}
        << Encoding::Utf16LE;
    QTest::newRow("utf16 lone lf byte is no line end")
        << QByteArray("\xFF\xFE\n\x01\n\0", 6) << QStringList{QStringLiteral(u"\u010A")}
        << Encoding::Utf16LE;
    QTest::newRow("utf8 character cut off at the end")
        << QByteArray("\xEF\xBB\xBF"
                      "a\r\nb\xC3")
        << QStringList{"a", QStringLiteral(u"b\uFFFD")} << Encoding::Utf8;
    QTest::newRow("utf8 last line a cut-off character")
        << QByteArray("\xEF\xBB\xBF"
                      "a\r\n\xC3")
        << QStringList{"a", QStringLiteral(u"\uFFFD")} << Encoding::Utf8;
    QTest::newRow("utf8 letters of two and three bytes")
        << QByteArray("\xEF\xBB\xBF\xC3\xA6\xE2\x82\xAC\r\n\xE2\x80\xA6")
        << QStringList{QStringLiteral(u"æ€"), QStringLiteral(u"…")} << Encoding::Utf8;
    QTest::newRow("utf8 long line of two-byte letters")
        << QByteArray("\xEF\xBB\xBF") + QByteArray("\xC3\xA6").repeated(300)
        << QStringList{QString(300, QChar(u'æ'))} << Encoding::Utf8;
    QTest::newRow("utf8 without bom is ansi")
        << QByteArray("\xC3\xA6") << QStringList{"Ã¦"} << Encoding::Ansi;
}

void TestTextlines::decodeLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QFETCH(Encoding, encoding);
    Encoding enc = Encoding::Utf16BE;
    const QStringList decoded = platform::decodeLines(bytes, enc);
    QCOMPARE(decoded, lines);
    QCOMPARE(enc, encoding);
    // A file's lines may be a million: each holds the room its letters take and no more.
    for (const QString &line : decoded) QCOMPARE(line.capacity(), line.size());
    // The count a line limit is checked by, before any line is made, is the same.
    QCOMPARE(platform::countLines(bytes), lines.size());
    if (!lines.isEmpty()) QCOMPARE(platform::countLines(bytes, lines.size() - 1), lines.size());
}

void TestTextlines::encodeLines_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Encoding>("encoding");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("none") << QStringList() << Encoding::Ansi << QByteArray();
    QTest::newRow("none utf8") << QStringList() << Encoding::Utf8 << QByteArray("\xEF\xBB\xBF");
    QTest::newRow("ansi") << QStringList{"æ", ""} << Encoding::Ansi << QByteArray("\xe6\r\n\r\n");
    QTest::newRow("utf8") << QStringList{"æ"} << Encoding::Utf8
                          << QByteArray("\xEF\xBB\xBF\xC3\xA6\r\n");
    QTest::newRow("utf16le") << QStringList{"a"} << Encoding::Utf16LE
                             << QByteArray("\xFF\xFE"
                                           "a\0\r\0\n\0",
                                           8);
}

void TestTextlines::encodeLines()
{
    QFETCH(QStringList, lines);
    QFETCH(Encoding, encoding);
    QFETCH(QByteArray, bytes);
    QCOMPARE(platform::encodeLines(lines, encoding), bytes);
}

// A file is read piece by piece (1 MiB each): whatever falls on the border between two pieces,
// the lines are those the whole file decodes to, its encoding too.
void TestTextlines::readLinesAcrossPieces_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const qsizetype piece = qsizetype(1) << 20;
    const auto upTo = [](qsizetype at, const QByteArray &start, QByteArray fill) {
        QByteArray out = start;
        while (out.size() < at) out += fill;
        out.truncate(at);
        return out;
    };
    QTest::newRow("CR LF split") << upTo(piece - 1, "", "abc\r\n") + "\r\nnext";
    QTest::newRow("lone CR at the border") << upTo(piece - 1, "", "abcd") + "\rnext\r";
    QTest::newRow("LF at the border") << upTo(piece - 1, "", "x") + "\n\nlast";
    QTest::newRow("UTF-8 character split") << upTo(piece - 1, "\xEF\xBB\xBF",
                                                   "\xC3\xA5"
                                                   "a\r\n") +
                                                  "\xE2\x82\xAC\r\n";
    QTest::newRow("UTF-16 LE unit and CR LF split")
        << upTo(piece - 1, "\xFF\xFE", QByteArray("a\0\r\0\n\0", 6)) +
               QByteArray("\0\r\0\n\0b\0c", 8);
    QTest::newRow("UTF-16 BE, odd byte after a CR")
        << upTo(piece + 1, "\xFE\xFF", QByteArray("\0a\0\r", 4)) + "z";
    QTest::newRow("one line of 3 MiB") << QByteArray(3 * piece, 'q') + "\r\n\r\nq";
    QTest::newRow("a mark cut short by the file's end") << QByteArray("\xEF\xBB");
}

void TestTextlines::readLinesAcrossPieces()
{
    QFETCH(QByteArray, bytes);
    Sandbox box;
    const QString path = box.work() + "/x.txt";
    writeBytes(path, bytes);
    Encoding whole;
    const QStringList expected = platform::decodeLines(bytes, whole);
    for (const qsizetype limit : {qsizetype(-1), expected.size()}) {
        QStringList lines;
        Encoding enc;
        QCOMPARE(platform::readLines(path, lines, enc, limit), 0);
        QVERIFY(lines == expected);
        QCOMPARE(enc, whole);
    }
    QStringList lines{"kept?"};
    Encoding enc;
    QCOMPARE(platform::readLines(path, lines, enc, expected.size() - 1),
             int(platform::ErrTooManyLines));
    QVERIFY(lines.isEmpty());
}

void TestTextlines::writeRescuesTextTheCodePageLacks()
{
    Sandbox box;
    const QString path = box.work() + "/x.txt";
    const QStringList lines{"plain", QStringLiteral(u"ĉ\u0001\uFFFF")};
    QCOMPARE(platform::writeLines(path, lines, Encoding::Ansi), 0);
    QVERIFY(readBytes(path).startsWith("\xEF\xBB\xBF"));
    QStringList back;
    Encoding enc;
    QCOMPARE(platform::readLines(path, back, enc), 0);
    QCOMPARE(back, lines);
    QCOMPARE(enc, Encoding::Utf8);
    // A lone surrogate half needs UTF-16.
    const QStringList halves{"a", QString(QChar(char16_t(0xD7FF + 1))) + u'b'};
    QCOMPARE(platform::writeLines(path, halves, Encoding::Ansi), 0);
    QVERIFY(readBytes(path).startsWith("\xFF\xFE"));
    QCOMPARE(platform::readLines(path, back, enc), 0);
    QCOMPARE(back, halves);
    QCOMPARE(enc, Encoding::Utf16LE);
    // Text the code page holds stays in it.
    QCOMPARE(platform::writeLines(path, {"æ"}, Encoding::Ansi), 0);
    QCOMPARE(readBytes(path), QByteArray("\xe6\r\n"));
}

void TestTextlines::readRemembersEncoding()
{
    Sandbox box;
    const QString path = box.work() + "/x.txt";
    writeBytes(path, QByteArray("\xFF\xFE"
                                "a\0",
                                4));
    QStringList lines;
    Encoding enc;
    QCOMPARE(platform::readLines(path, lines, enc), 0);
    QCOMPARE(enc, Encoding::Utf16LE);
    QCOMPARE(platform::writeLines(path, lines, enc), 0);
    QCOMPARE(readBytes(path), QByteArray("\xFF\xFE"
                                         "a\0\r\0\n\0",
                                         8));
}

void TestTextlines::atomicWriteRefusesReadOnlyFile()
{
    Sandbox box;
    const QString path = box.work() + "/ro.ini";
    writeBytes(path, "old\r\n");
    QCOMPARE(platform::setReadOnly(path, true), 0);
    QCOMPARE(platform::writeLines(path, {"new"}, Encoding::Ansi, true), 5);
    QCOMPARE(platform::writeLines(path, {"new"}, Encoding::Ansi, false), 5);
    QCOMPARE(readBytes(path), QByteArray("old\r\n"));
    QCOMPARE(QDir(box.work()).entryList(QDir::Files), QStringList{"ro.ini"});
}

void TestTextlines::atomicWriteReplacesWhole()
{
    Sandbox box;
    const QString path = box.work() + "/a.ini";
    writeBytes(path, QByteArray(1000, 'x'));
    QCOMPARE(platform::writeLines(path, {"[A]", "k=v", ""}, Encoding::Ansi, true), 0);
    QCOMPARE(readBytes(path), QByteArray("[A]\r\nk=v\r\n\r\n"));
    QCOMPARE(QDir(box.work()).entryList(QDir::Files), QStringList{"a.ini"});
}

void TestTextlines::atomicWriteKeepsTheMode_data()
{
    QTest::addColumn<int>("mode"); // of the old file; -1 for none
    QTest::addColumn<int>("expected");

    const mode_t mask = ::umask(0);
    ::umask(mask);
    QTest::newRow("0640") << 0640 << 0640;
    QTest::newRow("0600") << 0600 << 0600;
    QTest::newRow("0604") << 0604 << 0604;
    QTest::newRow("0666") << 0666 << 0666;
    QTest::newRow("new file as a plain create") << -1 << int(0666 & ~mask);
}

void TestTextlines::atomicWriteKeepsTheMode()
{
    QFETCH(int, mode);
    QFETCH(int, expected);
    Sandbox box;
    const QString path = box.work() + "/s.ini";
    if (mode >= 0) {
        writeBytes(path, "old\r\n");
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
    }
    QCOMPARE(platform::writeLines(path, {"new"}, Encoding::Ansi, true), 0);
    QCOMPARE(readBytes(path), QByteArray("new\r\n"));
    QCOMPARE(modeOf(path), expected);
    QCOMPARE(entries(box.work()), QStringList{"s.ini"});
}

// A name as long as a folder takes still gets a file replaced whole: the temporary beside it
// does not need room for more.
void TestTextlines::atomicWriteTakesTheLongestName_data()
{
    QTest::addColumn<QString>("name"); // of 255 bytes or just under
    QTest::addColumn<bool>("exists");
    const QString ascii = QString(251, u'a') + ".csv";
    // "ø" is two bytes: 125 of them and ".csv" make 254 bytes, and a cut must not split one.
    const QString letters = QString(125, u'ø') + ".csv";
    QTest::newRow("new file, 255 bytes") << ascii << false;
    QTest::newRow("existing file, 255 bytes") << ascii << true;
    QTest::newRow("existing file, two-byte letters") << letters << true;
}

void TestTextlines::atomicWriteTakesTheLongestName()
{
    QFETCH(QString, name);
    QFETCH(bool, exists);
    Sandbox box;
    const QString path = box.work() + "/" + name;
    ino_t before = 0;
    if (exists) {
        writeBytes(path, "old\r\n");
        before = inodeOf(path);
    }
    QCOMPARE(platform::writeLines(path, {"new"}, Encoding::Ansi, true), 0);
    QCOMPARE(readBytes(path), QByteArray("new\r\n"));
    // Replaced by a new file, not rewritten in place.
    if (exists) QVERIFY(inodeOf(path) != before);
    QCOMPARE(entries(box.work()), QStringList{name});
}

void TestTextlines::atomicWriteThroughALink_data()
{
    QTest::addColumn<QString>("linkTarget"); // what the link "s.ini" in the working folder holds
    QTest::addColumn<bool>("chain");         // through a second link "second.ini"

    QTest::newRow("absolute") << "@/real/s.ini" << false;
    QTest::newRow("relative") << "real/s.ini" << false;
    QTest::newRow("link to a link") << "second.ini" << true;
}

void TestTextlines::atomicWriteThroughALink()
{
    QFETCH(QString, linkTarget);
    QFETCH(bool, chain);
    Sandbox box;
    const QString real = box.work() + "/real/s.ini";
    writeBytes(real, "old\r\n");
    QCOMPARE(::chmod(QFile::encodeName(real).constData(), 0640), 0);
    linkTarget.replace("@", box.work());
    const QString link = box.work() + "/s.ini";
    const auto makeLink = [](const QString &target, const QString &at) {
        return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData());
    };
    QCOMPARE(makeLink(linkTarget, link), 0);
    if (chain) QCOMPARE(makeLink("real/s.ini", box.work() + "/second.ini"), 0);

    QCOMPARE(platform::writeLines(link, {"new"}, Encoding::Ansi, true), 0);

    QVERIFY(platform::isLink(link));
    char held[4096];
    const ssize_t n = ::readlink(QFile::encodeName(link).constData(), held, sizeof held);
    QCOMPARE(QFile::decodeName(QByteArray(held, n > 0 ? int(n) : 0)), linkTarget);
    QCOMPARE(readBytes(real), QByteArray("new\r\n"));
    QCOMPARE(modeOf(real), 0640);
    QCOMPARE(entries(box.work() + "/real"), QStringList{"s.ini"});
    QStringList top{"real", "s.ini"};
    if (chain) top.append("second.ini");
    QCOMPARE(entries(box.work()), top);
}

void TestTextlines::atomicWriteUsesATemporaryOfItsOwn()
{
    // Another program's temporary under a fixed name must neither stop this write nor be
    // touched by it.
    Sandbox box;
    const QString path = box.work() + "/s.ini";
    writeBytes(path, "old\r\n");
    QVERIFY(QDir().mkpath(path + ".new"));
    writeBytes(path + ".tmp", "theirs");
    QCOMPARE(platform::writeLines(path, {"new"}, Encoding::Ansi, true), 0);
    QCOMPARE(readBytes(path), QByteArray("new\r\n"));
    QVERIFY(platform::dirExists(path + ".new"));
    QCOMPARE(readBytes(path + ".tmp"), QByteArray("theirs"));
    QCOMPARE(entries(box.work()), (QStringList{"s.ini", "s.ini.new", "s.ini.tmp"}));
}

void TestTextlines::atomicWriteFailureLeavesNoTemporary()
{
    // The rename over a folder fails after the temporary has been written.
    Sandbox box;
    const QString path = box.work() + "/s.ini";
    QVERIFY(QDir().mkpath(path));
    QCOMPARE(platform::writeLines(path, {"new"}, Encoding::Ansi, true), 5);
    QCOMPARE(entries(box.work()), QStringList{"s.ini"});
    QVERIFY(entries(path).isEmpty());
    // A folder that is missing gives 3, as a non-atomic write does.
    QCOMPARE(platform::writeLines(box.work() + "/none/s.ini", {"x"}, Encoding::Ansi, true), 3);
}

void TestTextlines::atomicWriteInPlaceWithoutRoomForATemporary_data()
{
    QTest::addColumn<QByteArray>("before"); // "<none>" for no file
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("existing file rewritten in place")
        << QByteArray("old\r\n") << false << 0 << QByteArray("new\r\n");
    QTest::newRow("read-only file still refused")
        << QByteArray("old\r\n") << true << 5 << QByteArray("old\r\n");
    QTest::newRow("no file, nothing made")
        << QByteArray("<none>") << false << 112 << QByteArray("<missing>");
}

void TestTextlines::atomicWriteInPlaceWithoutRoomForATemporary()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, readOnly);
    QFETCH(int, result);
    QFETCH(QByteArray, after);
    Sandbox box;
    // A disk with no inode left for a temporary (even for root): the folder and one file only.
    const QString folder = box.work() + "/disk";
    SmallDisk disk(folder, 2);
    if (!disk.mounted()) QSKIP("a small file system cannot be mounted here");
    const QString path = folder + "/s.ini";
    if (before != "<none>") {
        writeBytes(path, before);
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0640), 0);
        if (readOnly) QCOMPARE(platform::setReadOnly(path, true), 0);
    } else {
        writeBytes(folder + "/other", "x");
    }
    const ino_t inode = inodeOf(path);

    QCOMPARE(platform::writeLines(path, {"new"}, Encoding::Ansi, true), result);

    QCOMPARE(readBytes(path), after);
    QCOMPARE(inodeOf(path), inode); // the same file, not a replacement
    QCOMPARE(entries(folder), QStringList{before == "<none>" ? "other" : "s.ini"});
    if (result == 0) QCOMPARE(modeOf(path), 0640);
}

void TestTextlines::inPlaceRewriteOnAFullDisk_data()
{
    QTest::addColumn<int>("size"); // of the new text; the old one is 2000 bytes in one block
    QTest::addColumn<int>("result");

    QTest::newRow("grows past the file's block") << 6000 << 112;
    QTest::newRow("grows within the file's block") << 3000 << 0;
    QTest::newRow("shrinks") << 100 << 0;
}

void TestTextlines::inPlaceRewriteOnAFullDisk()
{
    QFETCH(int, size);
    QFETCH(int, result);
    Sandbox box;
    const QString folder = box.work() + "/disk";
    // Room for the folder, the file and the filler only: no inode for a temporary.
    SmallDisk disk(folder, 3);
    if (!disk.mounted()) QSKIP("a small file system cannot be mounted here");
    const QString name = QStringLiteral("s.ini");
    const QString path = folder + u'/' + name;
    const QByteArray old = QByteArray(1998, 'o') + "\r\n";
    writeBytes(path, old);
    QVERIFY(disk.fill("filler"));
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    const ino_t inode = inodeOf(path);

    const QString line(size - 2, u'n');
    QCOMPARE(platform::writeLines(path, {line}, Encoding::Ansi, true), result);

    QCOMPARE(readBytes(path), result == 0 ? line.toLatin1() + "\r\n" : old);
    QCOMPARE(inodeOf(path), inode);
    QCOMPARE(entries(folder), (QStringList{"filler", name}));
}

void TestTextlines::atomicWriteGivesTheModeAsked_data()
{
    QTest::addColumn<int>("before"); // the existing file's mode; -1: no file
    QTest::addColumn<bool>("atomic");
    QTest::newRow("existing 0644") << 0644 << true;
    QTest::newRow("existing 0666, rewritten in place") << 0666 << false;
    QTest::newRow("new file") << -1 << true;
}

// A file that holds a password is closed to others whatever mode it had or the umask gives.
void TestTextlines::atomicWriteGivesTheModeAsked()
{
    QFETCH(int, before);
    QFETCH(bool, atomic);
    Sandbox box;
    const QString path = box.work() + "/s.ini";
    if (before >= 0) {
        writeBytes(path, "old\r\n");
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(before)), 0);
    }
    QCOMPARE(platform::writeLines(path, {"new"}, Encoding::Ansi, atomic, 0600), 0);
    QCOMPARE(readBytes(path), QByteArray("new\r\n"));
    QCOMPARE(modeOf(path), 0600);
    QCOMPARE(entries(box.work()), QStringList{"s.ini"});
}

void TestTextlines::killedReplaceLeavesNothingBehind_data()
{
    QTest::addColumn<bool>("unnamed"); // temporaries without a name, as the file system has them
    QTest::addColumn<bool>("exists");
    QTest::addColumn<platform::ReplaceStep>("killedAt");
    QTest::addColumn<int>("left"); // temporaries beside the file after the kill
    using platform::ReplaceStep;
    QTest::newRow("new file, bytes written") << true << false << ReplaceStep::Written << 0;
    QTest::newRow("existing file, bytes written") << true << true << ReplaceStep::Written << 0;
    QTest::newRow("existing file, named for the rename")
        << true << true << ReplaceStep::Placing << 1;
    QTest::newRow("no unnamed files, bytes written") << false << true << ReplaceStep::Written << 1;
    QTest::newRow("no unnamed files, new file") << false << false << ReplaceStep::Placing << 1;
}

// A process killed in the middle of a replace leaves the old file as it was; whatever it leaves
// beside it, the next run removes.
void TestTextlines::killedReplaceLeavesNothingBehind()
{
    QFETCH(bool, unnamed);
    QFETCH(bool, exists);
    QFETCH(platform::ReplaceStep, killedAt);
    QFETCH(int, left);
    Sandbox box;
    const QString path = box.work() + "/s.ini";
    if (exists) writeBytes(path, "old\r\n");
    const QDateTime beforeTheRun = QDateTime::currentDateTime().addSecs(-1);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        platform::setUnnamedTemporaries(unnamed);
        platform::setReplaceSeam([killedAt](platform::ReplaceStep s) {
            if (s == killedAt) ::raise(SIGKILL);
        });
        platform::writeLines(path, {"new"}, Encoding::Ansi, true);
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    QCOMPARE(readBytes(path), exists ? QByteArray("old\r\n") : QByteArray("<missing>"));
    QStringList files = entries(box.work());
    files.removeAll("s.ini");
    QCOMPARE(files.size(), left);
    // A run that began before the kill may be the one still writing it.
    platform::removeStaleTemporaries(path, beforeTheRun);
    QCOMPARE(entries(box.work()).size(), left + (exists ? 1 : 0));
    platform::removeStaleTemporaries(path, QDateTime::currentDateTime().addSecs(1));
    QCOMPARE(entries(box.work()), exists ? QStringList{"s.ini"} : QStringList());
}

void TestTextlines::staleTemporariesOnlyTheProgramsOwn_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind"); // "file", "other user", "link", "second name", "new"
    QTest::addColumn<bool>("removed");
    QTest::newRow("its own") << "s.ini.tmp-aB3xY9"
                             << "file" << true;
    QTest::newRow("another user's") << "s.ini.tmp-aB3xY9"
                                    << "other user" << false;
    QTest::newRow("a link") << "s.ini.tmp-aB3xY9"
                            << "link" << false;
    QTest::newRow("a file with a second name") << "s.ini.tmp-aB3xY9"
                                               << "second name" << false;
    QTest::newRow("changed since the start") << "s.ini.tmp-aB3xY9"
                                             << "new" << false;
    QTest::newRow("five letters") << "s.ini.tmp-aB3xY"
                                  << "file" << false;
    QTest::newRow("seven letters") << "s.ini.tmp-aB3xY9z"
                                   << "file" << false;
    QTest::newRow("not a letter") << "s.ini.tmp-aB3_Y9"
                                  << "file" << false;
    QTest::newRow("beside another file") << "t.ini.tmp-aB3xY9"
                                         << "file" << false;
    QTest::newRow("the user's own backup") << "s.ini.backup"
                                           << "file" << false;
}

void TestTextlines::staleTemporariesOnlyTheProgramsOwn()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(bool, removed);
    Sandbox box;
    const QString path = box.work() + "/s.ini";
    writeBytes(path, "x");
    const QString stale = box.work() + "/" + name;
    const QByteArray staleName = QFile::encodeName(stale);
    if (kind == "link") {
        writeBytes(box.work() + "/elsewhere", "y");
        QCOMPARE(::symlink("elsewhere", staleName.constData()), 0);
    } else {
        writeBytes(stale, "half");
    }
    if (kind == "other user") QCOMPARE(::lchown(staleName.constData(), 65534, 65534), 0);
    if (kind == "second name")
        QCOMPARE(::link(staleName.constData(), QFile::encodeName(box.work() + "/kept").constData()),
                 0);
    const QDateTime start = kind == "new" ? QDateTime::currentDateTime().addSecs(-60)
                                          : QDateTime::currentDateTime().addSecs(1);
    platform::removeStaleTemporaries(path, start);
    QCOMPARE(!QFileInfo(stale).exists() && !QFileInfo(stale).isSymLink(), removed);
    QCOMPARE(readBytes(path), QByteArray("x"));
}
QTEST_GUILESS_MAIN(TestTextlines)
#include "tst_textlines.moc"
