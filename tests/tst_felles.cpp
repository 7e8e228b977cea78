// Felles: file size, extensions, trimming, the shell hand-off, password scrambling and the
// date-time text.
#include "Felles.h"
#include "platform.h"
#include "testsupport.h"

#include <QTest>

class TestFelles : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { pinNorwegianLocale(); }
    void fileSize();
    void newExt_data();
    void newExt();
    void trim_data();
    void trim();
    void shellOpen();
    void scramble_data();
    void scramble();
    void scrambleRoundTrip();
    void decodeShortTexts();
    void dateTimeText_data();
    void dateTimeText();
};

void TestFelles::fileSize()
{
    Sandbox box;
    const QString empty = box.work() + "/empty", five = box.work() + "/five";
    writeBytes(empty, "");
    writeBytes(five, "12345");
    QCOMPARE(getfilesize(empty), 0);
    QCOMPARE(getfilesize(five), 5);
    QCOMPARE(getfilesize(box.work() + "/missing"), -1);
    QCOMPARE(getfilesize(box.work()), -1);
    platform::FileHandle reader;
    QCOMPARE(platform::openFile(five, platform::OpenMode::Read, reader), 0);
    QCOMPARE(getfilesize(five), -1); // held by a reader that lets others read only
    platform::closeFile(reader);
    QCOMPARE(getfilesize(five), 5);
    platform::setReadOnly(five, true);
    QCOMPARE(getfilesize(five), -1);
}

void TestFelles::newExt_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("result");
    QTest::newRow("simple") << "liste.csv"
                            << "tmp"
                            << "liste.tmp";
    QTest::newRow("first dot") << "arkiv.tar.gz"
                               << "old"
                               << "arkiv.old";
    QTest::newRow("no dot") << "README"
                            << "old"
                            << "README.old";
    QTest::newRow("dot in folder") << "/x/data.old/liste.csv"
                                   << "tmp"
                                   << "/x/data.tmp";
    QTest::newRow("leading dot") << ".\\liste.csv"
                                 << "tmp"
                                 << ".tmp";
    QTest::newRow("ends in dot") << "liste."
                                 << "tmp"
                                 << "liste.tmp";
    QTest::newRow("ext with dot") << "a.b"
                                  << ".x"
                                  << "a..x";
}

void TestFelles::newExt()
{
    QFETCH(QString, name);
    QFETCH(QString, ext);
    QFETCH(QString, result);
    QString out;
    newext(name, ext, out);
    QCOMPARE(out, result);
}

void TestFelles::trim_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("blanks only") << "    "
                                 << "";
    QTest::newRow("both ends") << "  ord \t "
                               << "ord \t";
    QTest::newRow("tab stays") << "\tord\t"
                               << "\tord\t";
    QTest::newRow("nbsp stays") << QStringLiteral(u"\u00A0a ") << QStringLiteral(u"\u00A0a");
    QTest::newRow("inner kept") << " a  b "
                                << "a  b";
}

void TestFelles::trim()
{
    QFETCH(QString, text);
    QFETCH(QString, result);
    QCOMPARE(trimspaces(text), result);
}

void TestFelles::shellOpen()
{
    RecordingUi ui;
    shellopen("/no/such/file.xyz", "", "");
    QCOMPARE(ui.opened, QStringList{"/no/such/file.xyz"});
    QCOMPARE(ui.cursor, (QList<bool>{true, false}));
    QVERIFY(ui.messages.isEmpty());
    shellopen(QString(300, 'a'), "", "");
    QCOMPARE(ui.opened.last(), QString(300, 'a'));
}

void TestFelles::scramble_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("stored");
    QTest::newRow("empty") << ""
                           << "z2";
    QTest::newRow("one letter") << "a"
                                << "zb2";
    QTest::newRow("abc") << "abc"
                         << "zbdf2";
    QTest::newRow("blank at 2") << "a b"
                                << "zb\"e2";
    QTest::newRow("wrap at 1") << QString(QChar(char16_t(0xFFFF)))
                               << QString(u'z') + QChar(char16_t(0)) + u'2';
    QTest::newRow("zero at 3") << QString("ab") + QChar(char16_t(0))
                               << QString("zbd") + QChar(char16_t(3)) + u'2';
    QTest::newRow("tilde at 2") << "a~" << QString("zb") + QChar(char16_t(128)) + u'2';
}

void TestFelles::scramble()
{
    QFETCH(QString, plain);
    QFETCH(QString, stored);
    QCOMPARE(encodestr(plain), stored);
    QCOMPARE(decodestr(stored), plain);
}

void TestFelles::scrambleRoundTrip()
{
    QString every;
    for (int u = 0; u < 65536; u += 97) every.append(QChar(char16_t(u)));
    every.append(QChar(char16_t(0xD800))); // a lone surrogate half
    QCOMPARE(decodestr(encodestr(every)), every);
}

void TestFelles::decodeShortTexts()
{
    QCOMPARE(decodestr(""), QString());
    QCOMPARE(decodestr("q"), QString());
    QCOMPARE(decodestr("qq"), QString());
    // Never-scrambled text still loses its ends and is lowered, without an error.
    QCOMPARE(decodestr("xbcy"), QString("aa"));
}

void TestFelles::dateTimeText_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("text");
    QTest::newRow("morning") << QDateTime(QDate(2026, 12, 10), QTime(8, 28, 38))
                             << "10.12.2026 08:28:38";
    QTest::newRow("midnight") << QDateTime(QDate(2026, 1, 2), QTime(0, 0, 0)) << "02.01.2026";
    QTest::newRow("one second past")
        << QDateTime(QDate(2026, 1, 2), QTime(0, 0, 1)) << "02.01.2026 00:00:01";
}

void TestFelles::dateTimeText()
{
    QFETCH(QDateTime, when);
    QFETCH(QString, text);
    QCOMPARE(datetimetext(when), text);
}

QTEST_GUILESS_MAIN(TestFelles)
#include "tst_felles.moc"
