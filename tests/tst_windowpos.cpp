// Tests of window placement: what is stored per user, and how a stored placement is applied
// and pulled back onto the primary screen.
#include "hs_reg.h"
#include "inifile.h"
#include "testsupport.h"
#include "textfil.h"
#include "windowpos.h"

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
    void maximisedAfterThePlacement_data();
    void maximisedAfterThePlacement();

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
    QTest::addColumn<bool>("maximisedBefore");
    QTest::addColumn<bool>("maximised");

    // Every window starts at (30, 40), 400 x 300.
    const QSize screen = QGuiApplication::primaryScreen()->size();
    const int sw = screen.width();
    const int sh = screen.height();
    const QByteArray sized = "Left=10\r\nTop=20\r\nHeight=700\r\nWidth=1000\r\nDiverse=lagret\r\n";
    QTest::newRow("nothing stored")
        << QByteArray() << "inn" << QPoint(0, 0) << QSize(400, 300) << "" << false << false;
    QTest::newRow("equal to the screen size is kept")
        << QString("Left=%1\r\nTop=%2\r\n").arg(sw).arg(sh).toLatin1() << "" << QPoint(sw, sh)
        << QSize(400, 300) << "" << false << false;
    QTest::newRow("one pixel more is pulled back")
        << QString("Left=%1\r\nTop=%2\r\n").arg(sw + 1).arg(sh + 1).toLatin1() << ""
        << QPoint(sw - 400, sh - 300) << QSize(400, 300) << "" << false << false;
    QTest::newRow("no lower bound") << QByteArray("Left=-1200\r\nTop=-5\r\n") << ""
                                    << QPoint(-1200, -5) << QSize(400, 300) << "" << false << false;
    QTest::newRow("pulled back with the old width")
        << QByteArray("Left=5000\r\nWidth=1000\r\nHeight=700\r\n") << "" << QPoint(sw - 400, 0)
        << QSize(1000, 700) << "" << false << false;
    QTest::newRow("OnlyPos") << sized << "OnlyPos" << QPoint(10, 20) << QSize(400, 300) << "lagret"
                             << false << false;
    QTest::newRow("onlypos is ordinary text")
        << sized << "onlypos" << QPoint(10, 20) << QSize(1000, 700) << "lagret" << false << false;
    QTest::newRow("size of zero or less")
        << QByteArray("Height=0\r\nWidth=-5\r\n") << "" << QPoint(0, 0) << QSize(400, 300) << ""
        << false << false;
    QTest::newRow("size that is no number")
        << QByteArray("Height=abc\r\nWidth=12x\r\n") << "" << QPoint(0, 0) << QSize(400, 300) << ""
        << false << false;
    QTest::newRow("false Maximized keeps a maximised window so")
        << QByteArray("Maximized=0\r\nLeft=10\r\nTop=20\r\nHeight=200\r\n") << "" << QPoint(10, 20)
        << QSize(400, 200) << "" << true << true;
    QTest::newRow("nothing stored keeps a maximised window so")
        << QByteArray() << "" << QPoint(0, 0) << QSize(400, 300) << "" << true << true;
    QTest::newRow("true Maximized maximises")
        << QByteArray("Maximized=1\r\nLeft=10\r\nTop=20\r\n") << "" << QPoint(10, 20)
        << QSize(400, 300) << "" << false << true;
}

void TestWindowPos::load()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, extra);
    QFETCH(QPoint, pos);
    QFETCH(QSize, size);
    QFETCH(QString, extraOut);
    QFETCH(bool, maximisedBefore);
    QFETCH(bool, maximised);
    writeBytes(userFile(), "[VINDU-W]\r\n" + stored);
    QWidget w;
    w.move(30, 40);
    w.resize(400, 300);
    if (maximisedBefore) w.setWindowState(Qt::WindowMaximized);
    QCOMPARE(loadwindowpos(&w, "W", extra), 0);
    QCOMPARE(w.pos(), pos); // a hidden window keeps its geometry while maximised
    QCOMPARE(w.size(), size);
    QCOMPARE(extra, extraOut);
    QCOMPARE(bool(w.windowState() & Qt::WindowMaximized), maximised);
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

void TestWindowPos::maximisedAfterThePlacement_data()
{
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QSize>("size");

    QTest::newRow("with its size") << "" << QSize(400, 300);
    QTest::newRow("OnlyPos keeps the size") << "OnlyPos" << QSize(100, 120);
}

void TestWindowPos::maximisedAfterThePlacement()
{
    QFETCH(QString, extra);
    QFETCH(QSize, size);
    writeBytes(userFile(), "[VINDU-W]\r\nMaximized=1\r\nLeft=10\r\nTop=20\r\nHeight=300\r\n"
                           "Width=400\r\nDiverse=lagret\r\n");
    QWidget w;
    w.resize(100, 120);
    loadwindowpos(&w, "W", extra);
    QCOMPARE(extra, QString("lagret"));
    QVERIFY(w.windowState() & Qt::WindowMaximized);
    // Maximised last: the placement is what the window returns to.
    const QRect placed(QPoint(10, 20), size);
    QCOMPARE(w.geometry(), placed);
    QCOMPARE(w.normalGeometry(), placed);

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.isMaximized());
    w.showNormal();
    QTRY_COMPARE(QRect(w.pos(), w.size()), placed); // the frame's position, as it was set
}

QTEST_MAIN(TestWindowPos)
#include "tst_windowpos.moc"
