// Tests of the INI document: reading, lookups, typed values, write-back and its encodings.
#include "Felles.h"
#include "inifile.h"
#include "platform.h"
#include "testsupport.h"

#include <QDir>
#include <QLocale>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

class TestIniFile : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { pinNorwegianLocale(); }
    void reading_data();
    void reading();
    void lookups();
    void lookupsIgnoreTheUserLocale_data();
    void lookupsIgnoreTheUserLocale();
    void laterDuplicateWins();
    void writesAppendAndReplace();
    void lineBreaksBecomeBlanks_data();
    void lineBreaksBecomeBlanks();
    void typedReads_data();
    void typedReads();
    void encodings_data();
    void encodings();
    void missingFileStartsEmpty();
    void scrambledPasswordSurvivesTheFile();
    void readOnlyFileIsNeverReplaced();
    void unreadableFileIsNeverReplaced();
    void unwritableFolderFails();
};

void TestIniFile::reading_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("comments, blanks and trimming")
        << QByteArray("; hand-made\r\n\r\n  [ Std ]  \r\n  a  =  b  \r\n\r\n;x\r\nc=d\r\n")
        << QStringList{"[Std]", "a=b", "c=d", ""};
    QTest::newRow("control characters count as blanks")
        << QByteArray("\t[S]\t\r\n\tk\t=\tv\t\r\n") << QStringList{"[S]", "k=v", ""};
    QTest::newRow("lines before the first section")
        << QByteArray("x=1\r\nloose\r\n[S]\r\ny=2\r\n") << QStringList{"[S]", "y=2", ""};
    QTest::newRow("lone CR and lone LF")
        << QByteArray("[S]\ry=1\nz=2") << QStringList{"[S]", "y=1", "z=2", ""};
    QTest::newRow("line without = kept")
        << QByteArray("[S]\r\n  just text  \r\n") << QStringList{"[S]", "just text", ""};
    QTest::newRow("only the first = splits")
        << QByteArray("[S]\r\nk = a = b \r\n") << QStringList{"[S]", "k=a = b", ""};
    QTest::newRow("a repeated section starts anew")
        << QByteArray("[S]\r\na=1\r\n[s]\r\na=2\r\n")
        << QStringList{"[S]", "a=1", "", "[s]", "a=2", ""};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("no section") << QByteArray("a=1\r\n") << QStringList{};
}

void TestIniFile::reading()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, lines);
    IniDocument doc;
    doc.parse(file);
    QCOMPARE(doc.lines(), lines);
}

void TestIniFile::lookups()
{
    IniDocument doc;
    doc.parse("\xEF\xBB\xBF[standard]\r\nlogtofile=1\r\n[Blåbær]\r\nnøkkel=x\r\n");
    QCOMPARE(doc.readString("STANDARD", "LogToFile", "-"), QString("1"));
    QCOMPARE(doc.readString("BLÅBÆR", "NØKKEL", "-"), QString("x"));
    QCOMPARE(doc.readString("STANDARD", "Missing", "-"), QString("-"));
    QCOMPARE(doc.readString("Missing", "LogToFile", "-"), QString("-"));
    QVERIFY(doc.sectionExists("blåbær"));
    QVERIFY(doc.valueExists("Blåbær", "Nøkkel"));
    // A line without "=" is no key, not even the empty one.
    doc.parse("[S]\r\nloose\r\n");
    QVERIFY(!doc.valueExists("S", "loose"));
    QVERIFY(!doc.valueExists("S", ""));
}

void TestIniFile::lookupsIgnoreTheUserLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QByteArray>("file"); // UTF-8 with its mark
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("found");

    QTest::newRow("Turkish user, i in a key")
        << "tr_TR" << QByteArray("[STANDARD]\r\nlogtofile=1\r\n") << "STANDARD"
        << "LOGTOFILE" << true;
    QTest::newRow("Turkish user, i in a section")
        << "tr_TR" << QByteArray("[innstillinger]\r\nk=1\r\n") << "INNSTILLINGER"
        << "K" << true;
    QTest::newRow("Norwegian letters")
        << "nb_NO" << QByteArray("[blåbær]\r\nnøkkel=1\r\n") << "BLÅBÆR"
        << "NØKKEL" << true;
    QTest::newRow("sharp s is no SS") << "de_DE" << QByteArray("[S]\r\nstraße=1\r\n") << "S"
                                      << "STRASSE" << false;
    QTest::newRow("sharp s finds itself") << "de_DE" << QByteArray("[S]\r\nstraße=1\r\n") << "s"
                                          << "STRAßE" << true;
}

void TestIniFile::lookupsIgnoreTheUserLocale()
{
    QFETCH(QString, locale);
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(bool, found);
    QLocale::setDefault(QLocale(locale));
    IniDocument doc;
    doc.parse("\xEF\xBB\xBF" + file);
    const bool exists = doc.valueExists(section, key);
    const QString value = doc.readString(section, key, "-");
    pinNorwegianLocale();
    QCOMPARE(exists, found);
    QCOMPARE(value, found ? QString("1") : QString("-"));
}

void TestIniFile::laterDuplicateWins()
{
    IniDocument doc;
    doc.parse("[S]\r\nk=1\r\nK=2\r\n[T]\r\n[s]\r\nk=3\r\nk=4\r\n");
    QCOMPARE(doc.readString("S", "k", ""), QString("4"));
    doc.writeString("S", "k", "5");
    QCOMPARE(doc.lines(),
             (QStringList{"[S]", "k=1", "K=2", "", "[T]", "", "[s]", "k=3", "k=5", ""}));
}

void TestIniFile::writesAppendAndReplace()
{
    IniDocument doc;
    doc.parse("[A]\r\nx=1\r\ny=2\r\n[B]\r\n");
    doc.writeString("a", "X", "9");     // in place, spelled as written
    doc.writeString("A", "z", " pad "); // appended at the end of its section, untrimmed
    doc.writeBool("C", "on", true);     // a new section goes last
    doc.writeBool("C", "off", false);
    doc.writeInteger("C", "n", -42);
    QCOMPARE(doc.lines(), (QStringList{"[A]", "X=9", "y=2", "z= pad ", "", "[B]", "", "[C]", "on=1",
                                       "off=0", "n=-42", ""}));
    QCOMPARE(doc.readString("A", "z", ""), QString(" pad "));
}

void TestIniFile::lineBreaksBecomeBlanks_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("readSection"); // where the key is found after the file is read again
    QTest::addColumn<QString>("readKey");
    QTest::addColumn<QString>("readValue");

    QTest::newRow("CR LF in a value") << "TFM"
                                      << "Tekst"
                                      << "a\r\n[STANDARD]\r\nLogToFile=1"
                                      << "TFM"
                                      << "Tekst"
                                      << "a  [STANDARD]  LogToFile=1";
    QTest::newRow("lone CR") << "TFM"
                             << "Tekst"
                             << "a\r[STANDARD]"
                             << "TFM"
                             << "Tekst"
                             << "a [STANDARD]";
    QTest::newRow("lone LF") << "TFM"
                             << "Tekst"
                             << "a\nLogToFile=1"
                             << "TFM"
                             << "Tekst"
                             << "a LogToFile=1";
    QTest::newRow("in a key") << "TFM"
                              << "k\r\n[STANDARD]\r\nLogToFile"
                              << "1"
                              << "TFM"
                              << "k  [STANDARD]  LogToFile"
                              << "1";
    QTest::newRow("in a section") << "TFM]\n[STANDARD"
                                  << "LogToFile"
                                  << "1"
                                  << "TFM] [STANDARD"
                                  << "LogToFile"
                                  << "1";
}

void TestIniFile::lineBreaksBecomeBlanks()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, readSection);
    QFETCH(QString, readKey);
    QFETCH(QString, readValue);
    Sandbox box;
    const QString path = box.work() + "/s.ini";
    IniDocument doc(path);
    doc.writeString(section, key, value);
    QCOMPARE(doc.lines().size(), 3); // the header, the one line, the empty line
    QCOMPARE(doc.updateFile(), 0);

    const IniDocument back(path);
    QCOMPARE(back.sectionNames(), QStringList{readSection});
    QCOMPARE(back.sectionLines(readSection).size(), 1);
    QCOMPARE(back.readString(readSection, readKey, "-"), readValue);
    QVERIFY(!back.readBool("STANDARD", "LogToFile", false));
}

void TestIniFile::typedReads_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("integer"); // with the default 77
    QTest::addColumn<bool>("boolean");

    QTest::newRow("decimal") << "16" << 16 << true;
    QTest::newRow("0x") << "0x10" << 16 << true;
    QTest::newRow("0X") << "0X1f" << 31 << true;
    QTest::newRow("dollar") << "$10" << 16 << true;
    QTest::newRow("x") << "x10" << 16 << true;
    QTest::newRow("negative hex") << "-$10" << -16 << true;
    QTest::newRow("sign after 0x is no number") << "-0x10" << 77 << false;
    QTest::newRow("bare 0x") << "0x" << 77 << false;
    QTest::newRow("bare $") << "$" << 77 << false;
    QTest::newRow("leading blanks") << "  12" << 12 << true;
    QTest::newRow("trailing blank") << "12 " << 77 << false;
    QTest::newRow("plus") << "+5" << 5 << true;
    QTest::newRow("zero") << "0" << 0 << false;
    QTest::newRow("empty") << "" << 77 << false;
    QTest::newRow("word true") << "true" << 77 << false;
    QTest::newRow("exponent") << "1e3" << 77 << false;
    QTest::newRow("max") << "2147483647" << 2147483647 << true;
    QTest::newRow("over max") << "2147483648" << 77 << false;
    QTest::newRow("min") << "-2147483648" << int(-2147483647 - 1) << true;
    QTest::newRow("under min") << "-2147483649" << 77 << false;
    QTest::newRow("hex max") << "$7FFFFFFF" << 2147483647 << true;
    QTest::newRow("hex over max") << "$80000000" << 77 << false;
    QTest::newRow("many digits") << "000000000000000000000000000000001" << 1 << true;
}

void TestIniFile::typedReads()
{
    QFETCH(QString, text);
    QFETCH(int, integer);
    QFETCH(bool, boolean);
    IniDocument doc;
    doc.writeString("S", "k", text);
    QCOMPARE(doc.readInteger("S", "k", 77), integer);
    QCOMPARE(doc.readBool("S", "k", false), boolean);
    QCOMPARE(doc.readInteger("S", "missing", 77), 77);
}

void TestIniFile::encodings_data()
{
    QTest::addColumn<QByteArray>("before"); // "<none>" for a missing file
    QTest::addColumn<QString>("value");     // written to [S] k before the write-back
    QTest::addColumn<QByteArray>("after");

    const QByteArray body = "[S]\r\nk=v\r\n\r\n";
    QTest::newRow("new file is ANSI") << QByteArray("<none>") << "v" << body;
    QTest::newRow("no mark stays ANSI") << QByteArray("[S]\r\nk=x\r\n") << "bl\u00E5\u20AC"
                                        << QByteArray("[S]\r\nk=bl\xE5\x80\r\n\r\n");
    QTest::newRow("UTF-8 keeps its mark") << QByteArray("\xEF\xBB\xBF[S]\r\nk=x\r\n") << "v"
                                          << "\xEF\xBB\xBF" + body;
    QTest::newRow("UTF-16LE keeps its mark")
        << QByteArray("\xFF\xFE[\0S\0]\0", 8) << "v"
        << QByteArray("\xFF\xFE") + QByteArray("[\0S\0]\0\r\0\n\0k\0=\0v\0\r\0\n\0\r\0\n\0", 24);
    QTest::newRow("UTF-16BE keeps its mark")
        << QByteArray("\xFE\xFF\0[\0S\0]", 8) << "v"
        << QByteArray("\xFE\xFF") + QByteArray("\0[\0S\0]\0\r\0\n\0k\0=\0v\0\r\0\n\0\r\0\n", 24);
    QTest::newRow("text the code page lacks goes to UTF-8")
        << QByteArray("[S]\r\n") << "\u03A9" << QByteArray("\xEF\xBB\xBF[S]\r\nk=\xCE\xA9\r\n\r\n");
    // What was read is written back as it stood, in the encoding the write-back needs.
    const auto utf16 = [](const QString &text) {
        QByteArray out("\xFF\xFE");
        for (const QChar c : text) out += char(c.unicode() & 0xFF), out += char(c.unicode() >> 8);
        return out;
    };
    QTest::newRow("ANSI text read goes along to UTF-8")
        << QByteArray("[S]\r\nk=x\r\n navn = bl\xE5\x80 \r\n") << "\u03A9"
        << QByteArray("\xEF\xBB\xBF[S]\r\nk=\xCE\xA9\r\nnavn=bl\xC3\xA5\xE2\x82\xAC\r\n\r\n");
    QTest::newRow("broken UTF-8 is written as its replacement")
        << QByteArray("\xEF\xBB\xBF[S]\r\nx=\xFF\r\n") << "v"
        << QByteArray("\xEF\xBB\xBF[S]\r\nx=\xEF\xBF\xBD\r\nk=v\r\n\r\n");
    QTest::newRow("a lone surrogate half read in UTF-16 stays")
        << utf16(QStringLiteral("[S]\r\nx=") + QString(QChar(char16_t(0xD800)))) << "v"
        << utf16(QStringLiteral("[S]\r\nx=") + QString(QChar(char16_t(0xD800))) +
                 QStringLiteral("\r\nk=v\r\n\r\n"));
    QTest::newRow("a lone surrogate half written takes ANSI text to UTF-16")
        << QByteArray("[S]\r\nx=\xE5\r\n") << QString(QChar(char16_t(0xDC00)))
        << utf16(QStringLiteral("[S]\r\nx=\u00E5\r\nk=") + QString(QChar(char16_t(0xDC00))) +
                 QStringLiteral("\r\n\r\n"));
    QTest::newRow("the later of two sections takes the write")
        << QByteArray("[S]\r\nk=1\r\n[T]\r\n a = b \r\n;c\r\n[s]\nk=2\n") << "v"
        << QByteArray("[S]\r\nk=1\r\n\r\n[T]\r\na=b\r\n\r\n[s]\r\nk=v\r\n\r\n");
    QTest::newRow("no sections: nothing but the mark")
        << QByteArray("\xEF\xBB\xBF; only a comment\r\n") << QString()
        << QByteArray("\xEF\xBB\xBF");
}

void TestIniFile::encodings()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
    Sandbox box;
    const QString path = box.work() + "/s.ini";
    if (before != "<none>") writeBytes(path, before);
    IniDocument doc(path);
    QCOMPARE(doc.readError(), 0);
    if (!value.isNull()) doc.writeString("S", "k", value);
    QCOMPARE(doc.updateFile(), 0);
    QCOMPARE(readBytes(path), after);
    QCOMPARE(QDir(box.work()).entryList(QDir::Files), QStringList{"s.ini"}); // no temporary left
}

void TestIniFile::missingFileStartsEmpty()
{
    Sandbox box;
    IniDocument doc(box.work() + "/none.ini");
    QCOMPARE(doc.readError(), 0);
    QVERIFY(doc.sectionNames().isEmpty());
    QCOMPARE(doc.updateFile(), 0);
    QCOMPARE(readBytes(box.work() + "/none.ini"), QByteArray());
}

void TestIniFile::scrambledPasswordSurvivesTheFile()
{
    Sandbox box;
    const QString path = box.work() + "/s.ini";
    // The last one scrambles to a lone surrogate half.
    const QStringList passwords{"hemmelig", "bl\u00E5b\u00E6r\u20AC", "\u2713 \u00FF\u00FE", "~~~",
                                QString(QChar(char16_t(0xD7FF))) + u'x'};
    IniDocument doc(path);
    for (int i = 0; i < passwords.size(); ++i)
        doc.writeString("SERVER-SETTING-FTP", QString("password%1").arg(i),
                        encodestr(passwords[i]));
    QCOMPARE(doc.updateFile(), 0);
    const IniDocument back(path);
    for (int i = 0; i < passwords.size(); ++i)
        QCOMPARE(decodestr(back.readString("SERVER-SETTING-FTP", QString("password%1").arg(i), "")),
                 passwords[i]);
}

void TestIniFile::readOnlyFileIsNeverReplaced()
{
    Sandbox box;
    const QString path = box.work() + "/s.ini";
    writeBytes(path, "[S]\r\nk=old\r\n");
    IniDocument doc(path);
    doc.writeString("S", "k", "new");
    QCOMPARE(platform::setReadOnly(path, true), 0);
    QCOMPARE(doc.updateFile(), int(platform::ErrAccessDenied));
    QCOMPARE(readBytes(path), QByteArray("[S]\r\nk=old\r\n"));
    QCOMPARE(doc.readString("S", "k", ""), QString("new"));
    QCOMPARE(QDir(box.work()).entryList(QDir::Files), QStringList{"s.ini"});
}

void TestIniFile::unreadableFileIsNeverReplaced()
{
    Sandbox box;
    const QString path = box.work() + "/s.ini";
    writeBytes(path, "[S]\r\nk=precious\r\n");
    // Another program holds the file exclusively while we open it.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX), 0);
    IniDocument doc(path);
    ::close(fd);
    QCOMPARE(doc.readError(), int(platform::ErrSharingViolation));
    doc.writeString("S", "other", "1");
    QCOMPARE(doc.updateFile(), int(platform::ErrSharingViolation));
    QCOMPARE(readBytes(path), QByteArray("[S]\r\nk=precious\r\n"));
}

void TestIniFile::unwritableFolderFails()
{
    Sandbox box;
    writeBytes(box.work() + "/file", "x");
    IniDocument doc(box.work() + "/file/s.ini"); // its "folder" is a file
    QCOMPARE(doc.readError(), 0);
    doc.writeString("S", "k", "v");
    QVERIFY(doc.updateFile() != 0);
    QCOMPARE(doc.readString("S", "k", ""), QString("v"));
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
