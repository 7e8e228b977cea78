// Tests of window placement: what is stored per user, and how a stored placement is applied
// and pulled back onto the primary screen.
#include "hs_reg.h"
#include "inifile.h"
#include "testsupport.h"
#include "textfil.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <memory>

class TestWindowPos : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void saveWritesKeysInOrder();
    void load_data();
    void load();
    void maximisedRoundTrip();

  private:
    QString userFile() const { return etcpath + "TESTER.INI"; }

    std::unique_ptr<Sandbox> m_box;
};

void TestWindowPos::init()
{
    m_box = std::make_unique<Sandbox>();
    textfilInitialization();
    userparam = "tester";
    hs_regInitialization({});
}

void TestWindowPos::cleanup()
{
    hs_regFinalization();
    loglines.clear();
    m_box.reset();
}

void TestWindowPos::saveWritesKeysInOrder()
{
    QWidget w;
    w.move(100, 50);
    w.resize(300, 200);
    setinisection("TFM");
    QCOMPARE(savewindowpos(&w, "Test", "ekstra"), 0);
    QCOMPARE(inisection, QString("TFM"));
    QCOMPARE(inifile->fileName(), ininame);
    QCOMPARE(IniDocument(userFile()).sectionLines("VINDU-Test"),
             (QStringList{"Maximized=0", "Left=100", "Top=50", "Height=200", "Width=300",
                          "Diverse=ekstra"}));
    savewindowpos(&w, "Test", "");
    QCOMPARE(IniDocument(userFile()).sectionLines("VINDU-Test").last(), QString("Diverse="));
    QVERIFY(IniDocument(ininame).sectionExists("INI_SELF")); // the main file is written too
}

void TestWindowPos::load_data()
{
    QTest::addColumn<QByteArray>("stored"); // the lines of "VINDU-W"
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("extraOut");

    // Every window starts at (30, 40), 400 x 300.
    const QSize screen = QGuiApplication::primaryScreen()->size();
    const int sw = screen.width();
    const int sh = screen.height();
    const QByteArray sized = "Left=10\r\nTop=20\r\nHeight=700\r\nWidth=1000\r\nDiverse=lagret\r\n";
    QTest::newRow("nothing stored")
        << QByteArray() << "inn" << QPoint(0, 0) << QSize(400, 300) << "";
    QTest::newRow("equal to the screen size is kept")
        << QString("Left=%1\r\nTop=%2\r\n").arg(sw).arg(sh).toLatin1() << "" << QPoint(sw, sh)
        << QSize(400, 300) << "";
    QTest::newRow("one pixel more is pulled back")
        << QString("Left=%1\r\nTop=%2\r\n").arg(sw + 1).arg(sh + 1).toLatin1() << ""
        << QPoint(sw - 400, sh - 300) << QSize(400, 300) << "";
    QTest::newRow("no lower bound") << QByteArray("Left=-1200\r\nTop=-5\r\n") << ""
                                    << QPoint(-1200, -5) << QSize(400, 300) << "";
    QTest::newRow("pulled back with the old width")
        << QByteArray("Left=5000\r\nWidth=1000\r\nHeight=700\r\n") << "" << QPoint(sw - 400, 0)
        << QSize(1000, 700) << "";
    QTest::newRow("OnlyPos") << sized << "OnlyPos" << QPoint(10, 20) << QSize(400, 300) << "lagret";
    QTest::newRow("onlypos is ordinary text")
        << sized << "onlypos" << QPoint(10, 20) << QSize(1000, 700) << "lagret";
    QTest::newRow("size of zero or less")
        << QByteArray("Height=0\r\nWidth=-5\r\n") << "" << QPoint(0, 0) << QSize(400, 300) << "";
    QTest::newRow("size that is no number")
        << QByteArray("Height=abc\r\nWidth=12x\r\n") << "" << QPoint(0, 0) << QSize(400, 300) << "";
}

void TestWindowPos::load()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, extra);
    QFETCH(QPoint, pos);
    QFETCH(QSize, size);
    QFETCH(QString, extraOut);
    writeBytes(userFile(), "[VINDU-W]\r\n" + stored);
    QWidget w;
    w.move(30, 40);
    w.resize(400, 300);
    QCOMPARE(loadwindowpos(&w, "W", extra), 0);
    QCOMPARE(w.pos(), pos);
    QCOMPARE(w.size(), size);
    QCOMPARE(extra, extraOut);
    QVERIFY(!w.isMaximized());
    QCOMPARE(inisection, QString("STANDARD"));
    QCOMPARE(inifile->fileName(), ininame);
}

void TestWindowPos::maximisedRoundTrip()
{
    QWidget saved;
    saved.resize(300, 200);
    saved.showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(&saved));
    QVERIFY(saved.isMaximized());
    savewindowpos(&saved, "Max", "");
    const IniDocument user(userFile());
    QCOMPARE(user.readString("VINDU-Max", "Maximized", ""), QString("1"));
    QCOMPARE(user.readInteger("VINDU-Max", "Width", 0), saved.width());
    QCOMPARE(user.readInteger("VINDU-Max", "Height", 0), saved.height());

    QWidget restored;
    restored.resize(100, 100);
    QString extra = "OnlyPos"; // the state is applied even then
    loadwindowpos(&restored, "Max", extra);
    QVERIFY(restored.windowState() & Qt::WindowMaximized);
    QCOMPARE(restored.pos(), saved.pos());
}

QTEST_MAIN(TestWindowPos)
#include "tst_windowpos.moc"
