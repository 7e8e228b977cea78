// Tests of the server-settings dialog, shown modally and answered from a queued call: its
// layout, what it loads and stores however it is closed, the default ports, the password mask
// and passwords that the settings file could not give back.
#include "serveroppsett.h"

#include "Felles.h"
#include "hs_reg.h"
#include "inifile.h"
#include "testsupport.h"
#include "textfil.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <functional>

class TestServerOppsett : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void layout_data();
    void layout();
    void closingUntouchedWritesEverything_data();
    void closingUntouchedWritesEverything();
    void loadsTheSection();
    void defaultPort_data();
    void defaultPort();
    void handTypedPassword();
    void maskToggle();
    void passwordKept_data();
    void passwordKept();

  private:
    // Shows the dialog for `kind`; `whileShown` runs inside its modal loop, and the dialog is
    // closed afterwards.
    void show(const QString &kind, const std::function<void()> &whileShown = {},
              const QString &caption = QStringLiteral("Oppsett FTP-server"));
    QLineEdit *field(const char *name) { return m_form->findChild<QLineEdit *>(name); }
    QStringList section(const QString &name) { return inifile->sectionLines(name); }
    void restart();

    std::unique_ptr<Sandbox> m_box;
    std::unique_ptr<RecordingUi> m_ui;
    TServerOppsettForm *m_form = nullptr;
};

void TestServerOppsett::init()
{
    m_box = std::make_unique<Sandbox>();
    m_ui = std::make_unique<RecordingUi>();
    textfilInitialization();
    userparam = "tester";
    hs_regInitialization({});
    m_form = new TServerOppsettForm;
}

void TestServerOppsett::cleanup()
{
    delete m_form;
    hs_regFinalization();
    loglines.clear();
    m_ui.reset();
    m_box.reset();
}

void TestServerOppsett::restart()
{
    hs_regFinalization();
    textfilInitialization();
    hs_regInitialization({});
}

void TestServerOppsett::show(const QString &kind, const std::function<void()> &whileShown,
                             const QString &caption)
{
    TServerOppsettForm *form = m_form;
    QTimer::singleShot(0, form, [form, whileShown] {
        if (whileShown) whileShown();
        form->close();
    });
    // Should a close be refused and the test not see to it, the loop still ends.
    QTimer::singleShot(20000, form, [form] { form->QDialog::done(0); });
    VisServerOppsett(caption, kind);
    QVERIFY(!form->isVisible());
}

void TestServerOppsett::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption"); // a label's text or the check box's
    QTest::newRow("Label4") << "Label4" << QRect(56, 32, 29, 13) << "Navn:";
    QTest::newRow("navn") << "navn" << QRect(56, 48, 329, 21) << "";
    QTest::newRow("Label1") << "Label1" << QRect(56, 88, 34, 13) << "Server:";
    QTest::newRow("server") << "server" << QRect(56, 104, 329, 21) << "";
    QTest::newRow("Label6") << "Label6" << QRect(56, 144, 36, 13) << "Mappe:";
    QTest::newRow("mappe") << "mappe" << QRect(56, 160, 329, 21) << "";
    QTest::newRow("Label2") << "Label2" << QRect(56, 200, 58, 13) << "Brukernavn:";
    QTest::newRow("brukernavn") << "brukernavn" << QRect(56, 216, 97, 21) << "";
    QTest::newRow("Label3") << "Label3" << QRect(160, 200, 41, 13) << "Passord:";
    QTest::newRow("passord") << "passord" << QRect(160, 216, 97, 21) << "";
    QTest::newRow("Label5") << "Label5" << QRect(264, 200, 22, 13) << "Port:";
    QTest::newRow("port") << "port" << QRect(264, 216, 57, 21) << "";
    QTest::newRow("SSLL") << "SSLL" << QRect(336, 218, 49, 17) << "SSL";
}

void TestServerOppsett::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QCOMPARE(m_form->size(), QSize(449, 283));
    QCOMPARE(m_form->minimumSize(), m_form->maximumSize()); // no resizing
    QCOMPARE(m_form->windowTitle(), QString("Oppsett på server"));
    auto *widget = m_form->findChild<QWidget *>(name);
    QVERIFY(widget);
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        QCOMPARE(label->text(), caption);
        // A caption sits where it was designed and is as wide as its text in the font at hand.
        QCOMPARE(label->pos(), geometry.topLeft());
        QCOMPARE(label->height(), geometry.height());
        QCOMPARE(label->width(), label->sizeHint().width());
    } else {
        QCOMPARE(widget->geometry(), geometry);
    }
    if (auto *box = qobject_cast<QCheckBox *>(widget)) QCOMPARE(box->text(), caption);

    // The tab order, from the field that has the focus at the first showing.
    QStringList order;
    show("FTP", [&] {
        QWidget *w = m_form->focusWidget();
        for (int i = 0; i < 7 && w; ++i, w = w->nextInFocusChain()) {
            while (w && w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
            if (w) order.append(w->objectName());
        }
    });
    QCOMPARE(order,
             (QStringList{"navn", "server", "mappe", "brukernavn", "passord", "port", "SSLL"}));
    QCOMPARE(field("passord")->toolTip(),
             QString("Dobbelklikk for å skjule/vise passord i klartekst"));
}

void TestServerOppsett::closingUntouchedWritesEverything_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("close") << "close";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("reject") << "reject";
}

void TestServerOppsett::closingUntouchedWritesEverything()
{
    QFETCH(QString, how);
    TServerOppsettForm *form = m_form;
    QTimer::singleShot(0, form, [form, how] {
        if (how == "close") form->close();
        if (how == "escape") QTest::keyClick(form, Qt::Key_Escape);
        if (how == "reject") form->reject();
    });
    setinisection("TFM");
    VisServerOppsett("Oppsett FTP-server", "FTP");
    QVERIFY(!form->isVisible());
    QCOMPARE(form->windowTitle(), QString("Oppsett FTP-server"));
    QCOMPARE(section("SERVER-SETTING-FTP"), (QStringList{"name=", "server=", "folder=", "username=",
                                                         "password=z2", "port=21", "SSL=0"}));
    QCOMPARE(inisection, QString("STANDARD"));
    QCOMPARE(field("port")->text(), QString("21"));
}

void TestServerOppsett::loadsTheSection()
{
    setinisection("SERVER-SETTING-CFG");
    iniwritestring("name", "Hovedkontor");
    iniwritestring("server", "ftp.example.no");
    iniwritestring("folder", "inn/ut");
    iniwritestring("username", "ola");
    iniwritestring("password", "zigpqjrpo2"); // "hemmelig" scrambled
    iniwritestring("port", "2121");
    iniwritebool("SSL", true);
    setinisection("TFM"); // the dialog leaves "STANDARD" current, whatever was current before
    QMap<QString, QString> shown;
    bool ssl = false;
    show("CFG", [&] {
        QCOMPARE(inisection, QString("STANDARD"));
        for (const char *name : {"navn", "server", "mappe", "brukernavn", "passord", "port"})
            shown[name] = field(name)->text();
        ssl = m_form->findChild<QCheckBox *>("SSLL")->isChecked();
    });
    QCOMPARE(shown["navn"], QString("Hovedkontor"));
    QCOMPARE(shown["server"], QString("ftp.example.no"));
    QCOMPARE(shown["mappe"], QString("inn/ut"));
    QCOMPARE(shown["brukernavn"], QString("ola"));
    QCOMPARE(shown["passord"], QString("hemmelig"));
    QCOMPARE(shown["port"], QString("2121"));
    QVERIFY(ssl);
    // Stored back unchanged; "cfg" finds the same section, as every section name does.
    QCOMPARE(section("server-setting-cfg"),
             (QStringList{"name=Hovedkontor", "server=ftp.example.no", "folder=inn/ut",
                          "username=ola", "password=zigpqjrpo2", "port=2121", "SSL=1"}));
}

void TestServerOppsett::defaultPort_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("FTP") << "FTP"
                         << ""
                         << "21";
    QTest::newRow("HTTP") << "HTTP"
                          << ""
                          << "80";
    QTest::newRow("LOG") << "LOG"
                         << ""
                         << "80";
    QTest::newRow("CFG") << "CFG"
                         << ""
                         << "21";
    QTest::newRow("SMB") << "SMB"
                         << ""
                         << "445";
    QTest::newRow("MAIL is 80") << "MAIL"
                                << ""
                                << "80";
    QTest::newRow("RDP") << "RDP"
                         << ""
                         << "3389";
    QTest::newRow("lower-case ftp") << "ftp"
                                    << ""
                                    << "";
    QTest::newRow("unknown kind") << "SFTP"
                                  << ""
                                  << "";
    QTest::newRow("letters stay") << "FTP"
                                  << "abc"
                                  << "abc";
    QTest::newRow("a port stays") << "RDP"
                                  << "2121"
                                  << "2121";
}

void TestServerOppsett::defaultPort()
{
    QFETCH(QString, kind);
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    show(kind, [&] { field("port")->setText(typed); });
    QCOMPARE(section("SERVER-SETTING-" + kind).at(5), "port=" + stored);
    QCOMPARE(field("port")->text(), stored);
}

void TestServerOppsett::handTypedPassword()
{
    setinisection("SERVER-SETTING-FTP");
    iniwritestring("password", "Hemmelig");
    resetinisection();
    QString shown;
    show("FTP", [&] { shown = field("passord")->text(); });
    QCOMPARE(shown, QString("dkjagc")); // first and last gone, the rest lowered
    QCOMPARE(inifile->readString("SERVER-SETTING-FTP", "password", ""), QString("zemmeli2"));
}

void TestServerOppsett::maskToggle()
{
    QLineEdit *passord = field("passord");
    QCOMPARE(passord->echoMode(), QLineEdit::Password);
    QCOMPARE(passord->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, passord),
             int('*'));
    QList<QLineEdit::EchoMode> modes;
    show("FTP", [&] {
        QTest::mouseDClick(passord, Qt::LeftButton);
        modes.append(passord->echoMode());
    });
    // The clear text stays at the next showing, until the next double-click.
    show("FTP", [&] {
        modes.append(passord->echoMode());
        QTest::mouseDClick(passord, Qt::LeftButton);
        modes.append(passord->echoMode());
    });
    QCOMPARE(modes, (QList<QLineEdit::EchoMode>{QLineEdit::Normal, QLineEdit::Normal,
                                                QLineEdit::Password}));
}

void TestServerOppsett::passwordKept_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("refused");
    QTest::newRow("letters") << "abc" << false;
    QTest::newRow("blanks and signs") << " a b~ " << false;
    QTest::newRow("TAB second") << "a\tb" << false;
    QTest::newRow("control characters kept") << "\x01\x02\x1f" << false;
    QTest::newRow("beyond the code page") << "pass\u20ac\u4e2d" << false;
    QTest::newRow("TAB first") << "\tab" << true;         // scrambled to a line feed
    QTest::newRow("form feed first") << "\x0cx" << true;  // to a carriage return
    QTest::newRow("backspace second") << "a\x08" << true; // to a line feed
}

void TestServerOppsett::passwordKept()
{
    QFETCH(QString, password);
    QFETCH(bool, refused);
    bool refusedVisible = false;
    QString kept;
    show("FTP", [&] {
        field("passord")->setText(password);
        m_form->close();
        refusedVisible = m_form->isVisible();
        kept = field("passord")->text();
        if (refusedVisible) field("passord")->setText("annet");
    });
    QCOMPARE(refusedVisible, refused);
    QCOMPARE(kept, password);
    if (refused) {
        QCOMPARE(m_ui->messages.size(), 1);
        QCOMPARE(m_ui->messages[0].caption, QString("Oppsett FTP-server"));
        QVERIFY(m_ui->messages[0].text.contains("Passordet"));
        QVERIFY(!m_ui->messages[0].text.contains(password));
        QCOMPARE(section("SERVER-SETTING-FTP").at(4), QString("password=zbpqiy2"));
        return;
    }
    QVERIFY(m_ui->messages.isEmpty());
    // After a restart, through the file on disk, the password comes back as typed.
    restart();
    QString shown;
    show("FTP", [&] { shown = field("passord")->text(); });
    QCOMPARE(shown, password);
}

QTEST_MAIN(TestServerOppsett)
#include "tst_serveroppsett.moc"
