// codepage: the Windows-1252 table, its round trip and what it cannot hold, and upper case
// that no user's locale changes.
#include "codepage.h"

#include <QLocale>
#include <QTest>

class TestCodepage : public QObject {
    Q_OBJECT
  private slots:
    void ansiTable_data();
    void ansiTable();
    void ansiRoundTripsEveryByte();
    void ansiReplacesMissing();
    void upperCase_data();
    void upperCase();
};

void TestCodepage::ansiTable_data()
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

void TestCodepage::ansiTable()
{
    QFETCH(int, byte);
    QFETCH(int, unicode);
    QCOMPARE(platform::ansiChar(uchar(byte)).unicode(), unicode);
    QCOMPARE(platform::toAnsi(QString(QChar(char16_t(unicode)))), QByteArray(1, char(byte)));
}

void TestCodepage::ansiRoundTripsEveryByte()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i) all.append(char(i));
    QCOMPARE(platform::toAnsi(platform::fromAnsi(all)), all);
}

void TestCodepage::ansiReplacesMissing()
{
    QCOMPARE(platform::toAnsi(u"a\u0101b\U0001F600c"), QByteArray("a?b?c"));
    QVERIFY(!platform::ansiCanHold(u"\u0101"));
    QVERIFY(platform::ansiCanHold(u"æøå€"));
}

void TestCodepage::upperCase_data()
{
    QTest::addColumn<QString>("locale"); // the user's locale, which must not matter
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("upper");

    QTest::newRow("letters beyond A-Z") << "nb_NO"
                                        << "blåbær-øy æøå"
                                        << "BLÅBÆR-ØY ÆØÅ";
    QTest::newRow("sharp s stays one unit") << "de_DE"
                                            << "straße"
                                            << "STRAßE";
    QTest::newRow("ligature stays one unit") << "en_US"
                                             << "\uFB01le"
                                             << "\uFB01LE";
    QTest::newRow("Turkish user, i is I") << "tr_TR"
                                          << "kalvenor.ini"
                                          << "KALVENOR.INI";
    QTest::newRow("Turkish dotless i") << "tr_TR"
                                       << "\u0131"
                                       << "I";
    const QString half(QChar(char16_t(0xD800)));
    QTest::newRow("lone surrogate half kept") << "nb_NO" << half + u'a' << half + u'A';
}

void TestCodepage::upperCase()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(QString, upper);
    const QLocale old;
    QLocale::setDefault(QLocale(locale));
    const QString result = platform::upperCase(text);
    QLocale::setDefault(old);
    QCOMPARE(result, upper);
    QCOMPARE(result.size(), text.size());
}
QTEST_GUILESS_MAIN(TestCodepage)
#include "tst_codepage.moc"
