// The platform layer: the Windows-1252 table, whole-file lines with byte-order marks, the
// UTF-8 rescue of text the code page cannot hold, and the Windows error numbers.
#include "platform.h"
#include "testsupport.h"

#include <QTest>

using platform::Encoding;

Q_DECLARE_METATYPE(platform::Encoding)

class TestPlatform : public QObject {
    Q_OBJECT
  private slots:
    void ansiTable_data();
    void ansiTable();
    void ansiRoundTripsEveryByte();
    void ansiReplacesMissing();
    void decodeLines_data();
    void decodeLines();
    void encodeLines_data();
    void encodeLines();
    void writeRescuesTextTheCodePageLacks();
    void readRemembersEncoding();
    void errorNumbers();
    void atomicWriteRefusesReadOnlyFile();
    void atomicWriteReplacesWhole();
    void sharingReadersExcludeWriters();
};

void TestPlatform::ansiTable_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("unicode");
    QTest::newRow("euro") << 0x80 << 0x20AC;
    QTest::newRow("undefined 81") << 0x81 << 0x81;
    QTest::newRow("quote") << 0x92 << 0x2019;
    QTest::newRow("oe") << 0x9C << 0x0153;
    QTest::newRow("Y diaeresis") << 0x9F << 0x0178;
    QTest::newRow("nbsp") << 0xA0 << 0xA0;
    QTest::newRow("AE") << 0xC6 << 0xC6;
    QTest::newRow("o slash") << 0xF8 << 0xF8;
}

void TestPlatform::ansiTable()
{
    QFETCH(int, byte);
    QFETCH(int, unicode);
    QCOMPARE(platform::ansiChar(uchar(byte)).unicode(), unicode);
    QCOMPARE(platform::toAnsi(QString(QChar(char16_t(unicode)))), QByteArray(1, char(byte)));
}

void TestPlatform::ansiRoundTripsEveryByte()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i) all.append(char(i));
    QCOMPARE(platform::toAnsi(platform::fromAnsi(all)), all);
}

void TestPlatform::ansiReplacesMissing()
{
    QCOMPARE(platform::toAnsi(u"a\u0101b\U0001F600c"), QByteArray("a?b?c"));
    QVERIFY(!platform::ansiCanHold(u"\u0101"));
    QVERIFY(platform::ansiCanHold(u"æøå€"));
}

void TestPlatform::decodeLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Encoding>("encoding");
    QTest::newRow("empty") << QByteArray() << QStringList() << Encoding::Ansi;
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"} << Encoding::Ansi;
    QTest::newRow("no final end") << QByteArray("a\r\nb") << QStringList{"a", "b"} << Encoding::Ansi;
    QTest::newRow("lone cr and lf") << QByteArray("a\rb\nc") << QStringList{"a", "b", "c"}
                                    << Encoding::Ansi;
    QTest::newRow("empty lines") << QByteArray("\r\n\r\nx\r\n\r\n")
                                 << QStringList{"", "", "x", ""} << Encoding::Ansi;
    QTest::newRow("lf cr is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"}
                                       << Encoding::Ansi;
    QTest::newRow("ansi") << QByteArray("\xe6\xf8\xe5\x80") << QStringList{"æøå€"}
                          << Encoding::Ansi;
    QTest::newRow("utf8 bom") << QByteArray("\xEF\xBB\xBFæ\r\n") << QStringList{"æ"}
                              << Encoding::Utf8;
    QTest::newRow("second mark is text") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF" "a")
                                         << QStringList{QStringLiteral(u"\uFEFFa")} << Encoding::Utf8;
    QTest::newRow("bom only") << QByteArray("\xEF\xBB\xBF") << QStringList() << Encoding::Utf8;
    QTest::newRow("utf16le") << QByteArray("\xFF\xFE" "a\0\r\0\n\0b\0", 10)
                             << QStringList{"a", "b"} << Encoding::Utf16LE;
    QTest::newRow("utf16be") << QByteArray("\xFE\xFF\0a\0\n", 6) << QStringList{"a"}
                             << Encoding::Utf16BE;
    QTest::newRow("utf8 without bom is ansi") << QByteArray("\xC3\xA6") << QStringList{"Ã¦"}
                                              << Encoding::Ansi;
}

void TestPlatform::decodeLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QFETCH(Encoding, encoding);
    Encoding enc = Encoding::Utf16BE;
    QCOMPARE(platform::decodeLines(bytes, enc), lines);
    QCOMPARE(enc, encoding);
}

void TestPlatform::encodeLines_data()
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
                             << QByteArray("\xFF\xFE" "a\0\r\0\n\0", 8);
}

void TestPlatform::encodeLines()
{
    QFETCH(QStringList, lines);
    QFETCH(Encoding, encoding);
    QFETCH(QByteArray, bytes);
    QCOMPARE(platform::encodeLines(lines, encoding), bytes);
}

void TestPlatform::writeRescuesTextTheCodePageLacks()
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

void TestPlatform::readRemembersEncoding()
{
    Sandbox box;
    const QString path = box.work() + "/x.txt";
    writeBytes(path, QByteArray("\xFF\xFE" "a\0", 4));
    QStringList lines;
    Encoding enc;
    QCOMPARE(platform::readLines(path, lines, enc), 0);
    QCOMPARE(enc, Encoding::Utf16LE);
    QCOMPARE(platform::writeLines(path, lines, enc), 0);
    QCOMPARE(readBytes(path), QByteArray("\xFF\xFE" "a\0\r\0\n\0", 8));
}

void TestPlatform::errorNumbers()
{
    Sandbox box;
    QStringList lines;
    Encoding enc;
    QCOMPARE(platform::readLines(box.work() + "/missing.txt", lines, enc), 2);
    QCOMPARE(platform::readLines(box.work() + "/nofolder/x.txt", lines, enc), 3);
    QCOMPARE(platform::readLines(box.work(), lines, enc), 5);
    QCOMPARE(platform::makeDir(box.work()), 183);
    QCOMPARE(platform::makeDir(box.work() + "/a/b"), 3);
    writeBytes(box.work() + "/file", "x");
    QCOMPARE(platform::writeLines(box.work() + "/file/x.txt", {"x"}, Encoding::Ansi), 3);
}

void TestPlatform::atomicWriteRefusesReadOnlyFile()
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

void TestPlatform::atomicWriteReplacesWhole()
{
    Sandbox box;
    const QString path = box.work() + "/a.ini";
    writeBytes(path, QByteArray(1000, 'x'));
    QCOMPARE(platform::writeLines(path, {"[A]", "k=v", ""}, Encoding::Ansi, true), 0);
    QCOMPARE(readBytes(path), QByteArray("[A]\r\nk=v\r\n\r\n"));
    QCOMPARE(QDir(box.work()).entryList(QDir::Files), QStringList{"a.ini"});
}

void TestPlatform::sharingReadersExcludeWriters()
{
    Sandbox box;
    const QString path = box.work() + "/s.txt";
    writeBytes(path, "x");
    platform::FileHandle r1, r2, w;
    QCOMPARE(platform::openFile(path, platform::OpenMode::Read, r1), 0);
    QCOMPARE(platform::openFile(path, platform::OpenMode::Read, r2), 0);
    QCOMPARE(platform::openFile(path, platform::OpenMode::Rewrite, w), 32);
    QCOMPARE(readBytes(path), QByteArray("x")); // the refused rewrite truncated nothing
    platform::closeFile(r1);
    platform::closeFile(r2);
    QCOMPARE(platform::openFile(path, platform::OpenMode::Append, w), 0);
    QCOMPARE(platform::openFile(path, platform::OpenMode::Read, r1), 32);
    platform::closeFile(w);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
