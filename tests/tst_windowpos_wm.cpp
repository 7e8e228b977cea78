// Tests of the main window's placement on a real X display under a window manager, which puts
// a frame around the window and may place it as it likes: Xvfb and openbox on a free display,
// started and stopped here.
#include "TFM.h"
#include "hs_reg.h"
#include "inifile.h"
#include "startup.h"
#include "testsupport.h"
#include "tfmapplication.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTest>
#include <QWindow>

#include <cstdio>
#include <memory>

namespace {

// Xvfb picks a free display number itself and tells it on the pipe; openbox then manages it.
class XDisplay {
  public:
    XDisplay()
    {
        m_server.setProcessChannelMode(QProcess::SeparateChannels);
        m_server.start(QStringLiteral("Xvfb"),
                       {QStringLiteral("-displayfd"), QStringLiteral("1"),
                        QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1600x1200x24"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp")});
        if (!m_server.waitForStarted()) return;
        QByteArray number;
        while (!number.contains('\n') && m_server.waitForReadyRead(30000))
            number += m_server.readAllStandardOutput();
        number = number.trimmed();
        if (number.isEmpty()) return;
        m_display = ':' + number;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
        m_manager.setProcessEnvironment(environment);
        m_manager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // A window mapped while openbox is still taking the display over may never be exposed:
        // the tests begin once openbox says, through its start-up command, that it manages it.
        m_manager.start(QStringLiteral("openbox"),
                        {QStringLiteral("--sm-disable"), QStringLiteral("--startup"),
                         QStringLiteral("echo openbox-ready")});
        QByteArray said;
        while (!said.contains("openbox-ready") && m_manager.waitForReadyRead(30000))
            said += m_manager.readAllStandardOutput();
        if (!said.contains("openbox-ready")) m_display.clear();
    }
    ~XDisplay()
    {
        for (QProcess *p : {&m_manager, &m_server}) {
            p->terminate();
            if (!p->waitForFinished(10000)) p->kill();
            p->waitForFinished();
        }
    }
    QByteArray display() const { return m_display; }

  private:
    QProcess m_server;
    QProcess m_manager;
    QByteArray m_display;
};

} // namespace

class TestWindowPosWm : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void noPlacementOpensAtTheCorner();
    void roundTrip_data();
    void roundTrip();

  private:
    // One run: the start-up, the window shown and framed by the window manager.
    void start();
    void stop();
    // As the window system has it, not as the widget last heard.
    QPoint frameCorner() const { return m_form->windowHandle()->framePosition(); }
    QStringList placement() const
    {
        return IniDocument(m_box->appdata() + "/Kalvenor/etc/TESTER.INI")
            .sectionLines("VINDU-TFM-Form");
    }

    std::unique_ptr<Sandbox> m_box;
    std::unique_ptr<RecordingUi> m_ui;
    TTFMform *m_form = nullptr;
};

void TestWindowPosWm::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
    // The window manager is at work once a window gets a frame.
    QWidget probe;
    probe.resize(100, 100);
    probe.show();
    // A loaded machine may take its time: as long as for the frame.
    QVERIFY(QTest::qWaitForWindowExposed(&probe, 30000));
    QTRY_VERIFY_WITH_TIMEOUT(!probe.windowHandle()->frameMargins().isNull(), 30000);
}

void TestWindowPosWm::init()
{
    m_box = std::make_unique<Sandbox>();
    m_ui = std::make_unique<RecordingUi>();
    TFMInitialization();
    TFMApplication::setTitle(QStringLiteral("Kalvenor TFM"));
}

void TestWindowPosWm::cleanup()
{
    stop();
    m_ui.reset();
    m_box.reset();
}

void TestWindowPosWm::start()
{
    basestartup({QStringLiteral("Ostrel"), QStringLiteral("--user"), QStringLiteral("tester")});
    m_form = new TTFMform;
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form, 30000));
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->windowHandle()->frameMargins().isNull(), 30000);
}

void TestWindowPosWm::stop()
{
    if (!m_form) return;
    m_form->close();
    delete m_form;
    m_form = nullptr;
    baseshutdown();
}

void TestWindowPosWm::noPlacementOpensAtTheCorner()
{
    start();
    QTRY_COMPARE(frameCorner(), QPoint(0, 0));
}

void TestWindowPosWm::roundTrip_data()
{
    QTest::addColumn<QPoint>("stored"); // "Left" and "Top" before the first start
    QTest::newRow("the corner") << QPoint(0, 0);
    QTest::newRow("as seen creeping") << QPoint(201, 184);
    QTest::newRow("far off") << QPoint(640, 500);
}

// "Left" and "Top" are the frame's outer corner, on saving and on restoring alike, so a window
// comes back exactly where it was, run after run.
void TestWindowPosWm::roundTrip()
{
    QFETCH(QPoint, stored);
    QDir().mkpath(m_box->appdata() + "/Kalvenor/etc");
    writeBytes(m_box->appdata() + "/Kalvenor/etc/TESTER.INI",
               QString("[VINDU-TFM-Form]\r\nMaximized=0\r\nLeft=%1\r\nTop=%2\r\n")
                   .arg(stored.x())
                   .arg(stored.y())
                   .toLatin1());
    for (int run = 0; run < 3; ++run) {
        start();
        QTRY_COMPARE(frameCorner(), stored);
        stop();
        QStringList lines = placement();
        QVERIFY2(lines.contains(QString("Left=%1").arg(stored.x())), qPrintable(lines.join(' ')));
        QVERIFY2(lines.contains(QString("Top=%1").arg(stored.y())), qPrintable(lines.join(' ')));
    }

    // Moved by the user, it is stored where its frame now is.
    start();
    m_form->move(300, 250);
    QTRY_COMPARE(frameCorner(), QPoint(300, 250));
    stop();
    QVERIFY(placement().contains("Left=300") && placement().contains("Top=250"));
    start();
    QTRY_COMPARE(frameCorner(), QPoint(300, 250));
}

int main(int argc, char **argv)
{
    XDisplay x;
    if (x.display().isEmpty()) {
        std::fprintf(stderr, "tst_windowpos_wm: could not start Xvfb and openbox\n");
        return 1;
    }
    qputenv("DISPLAY", x.display());
    qputenv("QT_QPA_PLATFORM", "xcb");
    TFMApplication app(argc, argv);
    TestWindowPosWm test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowpos_wm.moc"
