// Tests of the main window TTFMform, driven headless through its widgets: first and second
// start, files that cannot be read at start, the layout, composition, the "+" buttons and their
// error boxes, copying, the code-list buttons and reloads, the group filters and the group
// matching.
#include "TFM.h"
#include "hs_reg.h"
#include "inifile.h"
#include "startup.h"
#include "textfil.h"
#include "tfmapplication.h"
#include "tfmcombobox.h"
#include "tfmcore.h"

#include "testsupport.h"
#include "windowfixture.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <algorithm>

class TestTfmForm : public QObject, protected WindowFixture {
    Q_OBJECT

  private:
    void type(QWidget *widget, const QString &keys)
    {
        for (QChar c : keys) {
            if (c == u'\b')
                QTest::keyClick(widget, Qt::Key_Backspace);
            else
                QTest::keyClicks(widget, QString(c));
        }
    }
    void retype(QLineEdit *field, const QString &keys)
    {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, keys);
    }

    // Opens the drop-down list and closes it again: with a pick of row, or with Escape.
    void closeUp(TFMComboBox *combo, int row = -1)
    {
        QSignalSpy closed(combo, &TFMComboBox::closeUp);
        combo->showPopup();
        QTRY_VERIFY(combo->view()->isVisible());
        if (row >= 0) {
            combo->view()->setCurrentIndex(combo->model()->index(row, 0));
            QTest::keyClick(combo->view(), Qt::Key_Return);
        } else {
            QTest::keyClick(combo->view(), Qt::Key_Escape);
        }
        QTRY_COMPARE(closed.count(), 1);
    }
    void closeUp(TFMComboBox *combo, const QString &entry)
    {
        const int row = combo->findText(entry, Qt::MatchExactly | Qt::MatchCaseSensitive);
        QVERIFY2(row >= 0, qPrintable(entry));
        closeUp(combo, row);
    }

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // ---- Start and end ----

    void firstStart()
    {
        start();
        const QStringList files = {"tfm-lokalisering.txt", "tfm-system.txt", "tfm-systemgruppe.txt",
                                   "tfm-produkt.txt", "tfm-tekst.txt"};
        for (const QString &f : files)
            QVERIFY2(platform::fileExists(dataFile(qPrintable(f))), qPrintable(f));
        QCOMPARE(readBytes(dataFile("tfm-lokalisering.txt")).size(), 104);
        QCOMPARE(readBytes(dataFile("tfm-tekst.txt")).size(), 67);
        QCOMPARE(QDir(kalvenorpath("data\\tfm")).entryList(QDir::Files).size(), 5);

        QCOMPARE(m_form->windowTitle(), QString("Kalvenor TFM-system   1.02"));
        QCOMPARE(m_form->size(), QSize(872, 555));
        QCOMPARE(m_form->pos(), QPoint(0, 0));
        for (const char *name : {"Lokalisering", "System", "Produkt", "Tekst"})
            QCOMPARE(box(name)->text(), QString());
        QCOMPARE(label(), QString("+=.01-01"));
        QCOMPARE(m_form->findChild<QLabel *>("TekstLAbel")->text(), QString());
        for (const char *name : {"SystemCombo", "SystemUnderCOmbo", "ProduktCombo"})
            QCOMPARE(box(name)->selectedIndex(), -1);
        QCOMPARE(box("SystemCombo")->count(), 8);
        QCOMPARE(box("ProduktCombo")->count(), 23);
        QCOMPARE(box("System")->count(), 225);
        QVERIFY(!button("SystemNeste")->isEnabled());
        QVERIFY(!button("ProduktNeste")->isEnabled());
        QCOMPARE(QApplication::focusWidget(), box("Lokalisering"));
        QVERIFY(m_ui->messages.isEmpty());
    }

    void secondStartRestoresTheLastChoices()
    {
        start();
        type(box("Lokalisering"), "b1");
        QCOMPARE(box("Lokalisering")->text(), QString("B1 BYGG 1"));
        type(box("System"), "210");
        type(box("Produkt"), "ab");
        type(box("Tekst"), "pumpe 1");
        retype(edit("Nr1"), "05");
        retype(edit("Nr2"), "07");
        QCOMPARE(label(), QString("+B1=210.05-AB07"));
        SisteLet = QStringLiteral("VENTIL");
        // The user edits one list and deletes another between the runs.
        writeBytes(dataFile("tfm-tekst.txt"), "EGEN TEKST\r\n");
        const QString produkt = dataFile("tfm-produkt.txt");
        const QString settings = ininame;
        stop();
        QVERIFY(QFile::remove(produkt));
        QCOMPARE(IniDocument(settings).sectionLines("TFM"),
                 QStringList({"Lokalisering=B1 BYGG 1", "Produkt=AB Bjelker, Drager, Dip, Bæring",
                              "System=210 Grunn og fundamenter, generelt", "Tekst=PUMPE 1",
                              "SisteLet=VENTIL"}));

        TFMInitialization();
        start();
        QCOMPARE(box("Lokalisering")->text(), QString("B1 BYGG 1"));
        QCOMPARE(box("System")->text(), QString("210 Grunn og fundamenter, generelt"));
        QCOMPARE(box("Produkt")->text(), QString("AB Bjelker, Drager, Dip, Bæring"));
        QCOMPARE(box("Tekst")->text(), QString("PUMPE 1"));
        QCOMPARE(SisteLet, QString("VENTIL"));
        QCOMPARE(edit("Nr1")->text(), QString("01"));
        QCOMPARE(edit("Nr2")->text(), QString("01"));
        QCOMPARE(label(), QString("+B1=210.01-AB01"));
        QCOMPARE(m_form->findChild<QLabel *>("TekstLAbel")->text(), QString("PUMPE 1"));
        QCOMPARE(box("SystemCombo")->text(), QString("2. BYGNING"));
        QCOMPARE(box("ProduktCombo")->text(), QString("A. BÆRENDE / ROMDANNENDE"));
        QCOMPARE(readBytes(dataFile("tfm-tekst.txt")), QByteArray("EGEN TEKST\r\n"));
        QCOMPARE(box("Tekst")->items(), QStringList({"EGEN TEKST"}));
        QCOMPARE(box("Produkt")->count(), 305);
        QVERIFY(platform::fileExists(dataFile("tfm-produkt.txt")));
    }

    // Everything the first paint shows is in place once show() returns, before the message loop
    // has turned: the captions' character heights and widths, the lists read from their files,
    // and the groups matched to the restored fields.
    void wholeOnceShown()
    {
        basestartup({QStringLiteral("Ostrel")});
        setinisection("TFM");
        iniwritestring("System", "210 Grunn og fundamenter, generelt");
        iniwritestring("Produkt", "AB Bjelker, Drager, Dip, Bæring");
        resetinisection();
        m_form = new TTFMform;
        m_form->show();
        const auto *caption = m_form->findChild<QLabel *>("Label1");
        QCOMPARE(caption->font().pixelSize(), 13);
        QCOMPARE(caption->size(), caption->sizeHint());
        QCOMPARE(m_form->findChild<QLabel *>("TFMLabel")->font().pixelSize(), 24);
        QCOMPARE(box("Produkt")->count(), 305);
        QCOMPARE(box("SystemCombo")->text(), QString("2. BYGNING"));
        QCOMPARE(box("SystemUnderCOmbo")->text(), QString("21. GRUNN OG FUNDAMENT"));
        QCOMPARE(box("ProduktCombo")->text(), QString("A. BÆRENDE / ROMDANNENDE"));
        QCOMPARE(label(), QString("+=210.01-AB01"));
        waitUntilActive();
    }

    void storedSizeIsOverridden()
    {
        start();
        stop();
        basestartup({QStringLiteral("Ostrel")});
        openuserini();
        setinisection("VINDU-TFM-Form");
        iniwriteint("Left", 30);
        iniwriteint("Width", 1000);
        iniwriteint("Height", 700);
        resetinisection();
        closeuserini();
        createAndShow();
        QCOMPARE(m_form->size(), QSize(872, 555));
        QCOMPARE(m_form->x(), 30);
    }

    void factoryFileThatCannotBeWritten()
    {
        basestartup({QStringLiteral("Ostrel")});
        // A folder where the second file should be: it cannot be created.
        QDir().mkpath(dataFile("tfm-system.txt"));
        createAndShow();
        QCOMPARE(m_ui->messages.size(), 1);
        QCOMPARE(m_ui->messages.at(0).caption, QString("Kalvenor TFM"));
        QCOMPARE(m_ui->messages.at(0).icon, platform::Icon::Error);
        QVERIFY(m_ui->messages.at(0).text.startsWith("Cannot create file \"" +
                                                     dataFile("tfm-system.txt") + "\"."));
        QVERIFY(m_ui->messages.at(0).text.endsWith(u'.'));
        QVERIFY(platform::fileExists(dataFile("tfm-lokalisering.txt")));
        for (const char *later : {"tfm-systemgruppe.txt", "tfm-produkt.txt", "tfm-tekst.txt"})
            QVERIFY(!platform::fileExists(dataFile(later)));
        QVERIFY(m_form->isVisible());
        QCOMPARE(box("Produkt")->count(), 305);
        QCOMPARE(box("Tekst")->count(), 1);
    }

    // Something that is no plain text file in the place of the log, the settings file or a code
    // list: the start neither hangs nor runs out of memory, and goes on as after any file that
    // cannot be opened.
    void hostileFilesAtStart_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message"); // the box, with "@" for the file's path

        const QString opened = QStringLiteral("Cannot open file \"@\". ");
        const QString denied = QStringLiteral("Access is denied.");
        for (const char *kind : {"fifo", "zero", "folder", "oversized"}) {
            QTest::addRow("log, %s", kind) << "log" << kind << "";
            QTest::addRow("settings, %s", kind) << "settings" << kind << "";
        }
        QTest::newRow("code list, fifo") << "codelist"
                                         << "fifo" << opened + denied;
        QTest::newRow("code list, zero") << "codelist"
                                         << "zero" << opened + denied;
        // A folder is no file to the file-exists test, so the factory file is tried first.
        QTest::newRow("code list, folder")
            << "codelist"
            << "folder" << QStringLiteral("Cannot create file \"@\". ") + denied;
        QTest::newRow("code list, oversized")
            << "codelist"
            << "oversized"
            << QStringLiteral("Filen \"@\" kan ikke åpnes: den er større enn 64 MiB, mer enn "
                              "programmet leser.");
        QTest::newRow("code list, 64 MiB of LF")
            << "codelist"
            << "64 MiB of LF"
            << QStringLiteral("Filen \"@\" kan ikke åpnes: den har flere enn 100 000 linjer, "
                              "mer enn en kodeliste kan ha.");
    }

    void hostileFilesAtStart()
    {
        QFETCH(QString, place);
        QFETCH(QString, kind);
        QFETCH(QString, message);
        const QString base = m_box->appdata() + "/Kalvenor/";
        const QString settings = base + "etc/kalvenor.ini";
        QString path = settings;
        if (place == "log")
            path = base + "log/" + QFileInfo(platform::programFilePath()).fileName() + ".log";
        if (place == "codelist") path = base + "data/tfm/tfm-produkt.txt";
        if (place != "settings")
            writeBytes(settings,
                       "[STANDARD]\r\nLogToFile=1\r\n[TFM]\r\nLokalisering=B1 BYGG 1\r\n");
        QVERIFY(makeHostileFile(path, kind));

        start();
        QVERIFY(m_form->isVisible());
        message.replace("@", path);
        QCOMPARE(m_ui->texts(), message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty()) QCOMPARE(m_ui->messages.at(0).caption, QString("Kalvenor TFM"));
        if (place != "settings") {
            QVERIFY(loglines.filter("START: ").size() == 1);
            // A log at its cap is no failure: it is set aside at the end.
            QCOMPARE(loglines.filter(" er for stor til å leses").size(),
                     kind == "oversized" && place != "log" ? 1 : 0);
        }
        QCOMPARE(box("Lokalisering")->text(), QString(place == "settings" ? "" : "B1 BYGG 1"));
        QCOMPARE(box("Produkt")->count(), 305);

        stop();
        // A log too large to be read is replaced by this run's lines at the end, as any log that
        // could not be loaded; everything else is left as it was.
        if (place != "log" || kind != "oversized") QVERIFY(isHostileFile(path, kind));
    }

    // A code-list file held by another program while the window is first shown, and again at a
    // later reload: its box is shown, its list keeps its rows, and everything else goes on.
    void unreadableCodeListKeepsTheSession_data()
    {
        QTest::addColumn<int>("locked"); // index into CodeListFiles
        QTest::newRow("first file") << 0;
        QTest::newRow("product file") << 3;
        QTest::newRow("last file") << 4;
    }

    void unreadableCodeListKeepsTheSession()
    {
        QFETCH(int, locked);
        const QStringList session = {
            "Lokalisering=B1 BYGG 1", "Produkt=AB Bjelker, Drager, Dip, Bæring",
            "System=210 Grunn og fundamenter, generelt", "Tekst=PUMPE 1", "SisteLet=VENTIL"};
        basestartup({QStringLiteral("Ostrel")});
        setinisection("TFM");
        for (const QString &line : session)
            iniwritestring(line.section('=', 0, 0), line.section('=', 1));
        resetinisection();
        const QString settings = ininame;
        baseshutdown();

        // Each file holds its built-in rows and one more, so a list read from its file shows.
        basestartup({QStringLiteral("Ostrel")});
        const CodeTable tables[] = {CodeTable::Lokalisering, CodeTable::System,
                                    CodeTable::Systemgruppe, CodeTable::Produkt, CodeTable::Tekst};
        const char *lists[] = {"Lokalisering", "System", "SystemUnderCOmbo", "Produkt", "Tekst"};
        const auto writeLists = [&](const QString &extra, int skip) {
            for (int i = 0; i < 5; ++i)
                if (i != skip)
                    QCOMPARE(platform::writeLines(dataFile(CodeListFiles[i]),
                                                  QStringList(builtInTable(tables[i])) << extra,
                                                  platform::Encoding::Ansi),
                             0);
        };
        writeLists("ZZ EKSTRA", -1);
        const QString lockedPath = dataFile(CodeListFiles[locked]);
        platform::FileHandle holder = platform::NoFile;
        QCOMPARE(platform::openFile(lockedPath, platform::OpenMode::ReadWrite, holder), 0);
        const QString box32 =
            "Cannot open file \"" + lockedPath +
            "\". The process cannot access the file because it is being used by another process.";

        createAndShow();
        QCOMPARE(m_ui->texts(), QStringList{box32});
        QCOMPARE(m_ui->messages.at(0).caption, QString("Kalvenor TFM"));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(box(lists[i])->count(),
                     builtInTable(tables[i]).size() + (i == locked ? 0 : 1));
        QCOMPARE(box("Lokalisering")->text(), QString("B1 BYGG 1"));
        QCOMPARE(box("Produkt")->text(), QString("AB Bjelker, Drager, Dip, Bæring"));
        QCOMPARE(box("System")->text(), QString("210 Grunn og fundamenter, generelt"));
        QCOMPARE(box("Tekst")->text(), QString("PUMPE 1"));
        QCOMPARE(SisteLet, QString("VENTIL"));
        QCOMPARE(label(), QString("+B1=210.01-AB01"));
        QCOMPARE(box("SystemCombo")->text(), QString("2. BYGNING"));
        QCOMPARE(box("SystemUnderCOmbo")->text(), QString("21. GRUNN OG FUNDAMENT"));
        QCOMPARE(box("ProduktCombo")->text(), QString("A. BÆRENDE / ROMDANNENDE"));

        // A reload from an edit button: the same box, the readable files reloaded, no field
        // touched.
        writeLists("ZZ EKSTRA 2", locked);
        QTest::mouseClick(button("SpeedButton6"), Qt::LeftButton);
        QCOMPARE(m_ui->texts(), QStringList({box32, box32}));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(box(lists[i])->items().last(),
                     i == locked ? builtInTable(tables[i]).last() : QString("ZZ EKSTRA 2"));
        QCOMPARE(box("Tekst")->text(), QString("PUMPE 1"));
        QCOMPARE(label(), QString("+B1=210.01-AB01"));

        platform::closeFile(holder);
        stop();
        QCOMPARE(IniDocument(settings).sectionLines("TFM"), session);
    }

    // ---- Layout ----

    // Every placed component where the window's design puts it, with its caption and its
    // character height in pixels (0 for a frame, which shows no text). A width of -1 marks a
    // caption sized to its text.
    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<bool>("bold");

        const auto row = [](const char *name, const char *kind, QRect place, const QString &caption,
                            int pixels, bool bold, const QString &hint = QString()) {
            QTest::newRow(name) << name << kind << place << caption << hint << pixels << bold;
        };
        const auto at = [](int x, int y) { return QRect(x, y, -1, -1); };
        row("Label1", "QLabel", at(72, 32), "Lokalisering:", 13, true);
        row("Label2", "QLabel", at(72, 128), "System:", 13, true);
        row("Label3", "QLabel", at(72, 272), "Produkt:", 13, true);
        row("Lokalisering", "TFMComboBox", {72, 48, 305, 24}, "", 13, true);
        row("System", "TFMComboBox", {72, 192, 257, 21}, "", 11, false);
        row("Produkt", "TFMComboBox", {72, 312, 257, 21}, "", 11, false);
        row("Nr2", "QLineEdit", {176, 336, 57, 21}, "01", 11, false);
        row("Nr1", "QLineEdit", {200, 216, 57, 21}, "01", 11, false);
        row("TFMLabel", "QLabel", {472, 437, 361, 36}, "+=.01-01", 24, true);
        row("Shape1", "QFrame", {440, 352, 401, 145}, "", 0, false);
        row("Label6", "QLabel", at(168, 528),
            "PA 0802 TverrFaglig Merkesystem, TFM-systemet. Utarbeidet av Statsbygg", 13, true);
        row("TekstLAbel", "QLabel", {472, 381, 361, 36}, "", 24, true);
        row("Label8", "QLabel", at(72, 440), "Tekst:", 13, true);
        row("BitBtn1", "QPushButton", {440, 80, 113, 25}, "Legg til liste", 11, false);
        row("Label7", "QLabel", at(584, 24), "Merkeliste:", 13, true);
        row("MerkeListe", "LabelListView", {584, 40, 249, 233}, "", 11, false);
        row("SpeedButton1", "QToolButton", {235, 336, 17, 19}, "+", 16, true);
        row("SpeedButton2", "QToolButton", {260, 216, 17, 19}, "+", 16, true);
        row("BitBtn2", "QPushButton", {624, 280, 75, 25}, "Lagre", 11, false);
        row("BitBtn3", "QPushButton", {720, 280, 75, 25}, "Åpne", 11, false);
        row("HentKnapp", "QPushButton", {440, 184, 113, 49}, "Hent", 11, false);
        row("BitBtn5", "QPushButton", {440, 120, 115, 25}, "Hent fra liste", 11, false);
        row("Bevel1", "QFrame", {584, 272, 249, 41}, "", 0, false);
        row("Tekst", "TFMComboBox", {72, 456, 305, 21}, "", 11, false);
        row("SpeedButton3", "QToolButton", {48, 48, 23, 22}, "", 11, false);
        row("SpeedButton4", "QToolButton", {48, 192, 23, 22}, "", 11, false);
        row("SpeedButton5", "QToolButton", {48, 312, 23, 22}, "", 11, false);
        row("SpeedButton6", "QToolButton", {48, 456, 23, 22}, "", 11, false);
        row("SystemCombo", "TFMComboBox", {72, 144, 305, 21}, "", 11, true);
        row("SystemUnderCOmbo", "TFMComboBox", {72, 168, 305, 21}, "", 11, true);
        row("ProduktCombo", "TFMComboBox", {72, 288, 305, 21}, "", 11, true);
        row("Unik", "QCheckBox", {272, 338, 81, 17}, "TYPE-unikt", 11, false);
        row("IDNr", "QLineEdit", {176, 360, 57, 21}, "", 11, false);
        row("SpeedButton7", "QToolButton", {235, 360, 17, 19}, "+", 16, true);
        row("Label4", "QLabel", at(116, 364), "Unikt ID-nr.", 11, false);
        row("Label5", "QLabel", at(80, 340), "Løpenummer (type):", 11, false);
        row("SpeedButton8", "QToolButton", {336, 192, 23, 22}, "", 11, false);
        row("Label9", "QLabel", at(128, 220), "Løpenummer:", 11, false);
        row("SystemNeste", "QToolButton", {360, 192, 17, 22}, "", 11, false);
        row("SpeedButton9", "QToolButton", {336, 312, 23, 22}, "", 11, false);
        row("ProduktNeste", "QToolButton", {360, 312, 17, 22}, "", 11, false);
        row("CopyButton", "QToolButton", {448, 440, 25, 25}, "", 11, false,
            "Kopier til utklippstavlen");
        row("CopyEdit", "QLineEdit", {704, 520, 121, 21}, "CopyEdit", 11, false);
    }

    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, place);
        start();
        QWidget *widget = m_form->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(widget->parentWidget(), m_form);
        QCOMPARE(widget->metaObject()->className(), kind.toLatin1());
        QCOMPARE(widget->pos(), place.topLeft());
        if (place.width() >= 0) {
            QCOMPARE(widget->size(), place.size());
        } else {
            // Sized to its text: nothing of it cut, and clear of every other component.
            QCOMPARE(widget->size(), widget->sizeHint());
            for (const QWidget *other :
                 m_form->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                if (other == widget || !other->isVisible() ||
                    other->metaObject() == &QFrame::staticMetaObject)
                    continue;
                QVERIFY2(!other->geometry().intersects(widget->geometry()),
                         qPrintable(other->objectName()));
            }
        }

        if (auto *list = qobject_cast<QListWidget *>(widget)) {
            // Rows 13 pixels high: 17 whole lines in the list's 233.
            list->addItem("+B1=210.01-AB01");
            QCOMPARE(list->visualItemRect(list->item(0)).height(), 13);
            QCOMPARE(list->viewport()->height() / 13, 17);
            delete list->takeItem(0);
        }

        QString caption;
        if (const auto *l = qobject_cast<QLabel *>(widget)) caption = l->text();
        if (const auto *b = qobject_cast<QAbstractButton *>(widget)) caption = b->text();
        if (const auto *e = qobject_cast<QLineEdit *>(widget)) caption = e->text();
        if (const auto *c = qobject_cast<TFMComboBox *>(widget)) caption = c->text();
        QTEST(caption, "caption");
        QTEST(widget->toolTip(), "hint");
        QFETCH(int, pixels);
        if (pixels == 0) return;
        const QFontInfo font(widget->font());
        QCOMPARE(font.pixelSize(), pixels);
        QTEST(font.bold(), "bold");
    }

    // ---- Composition ----

    void workedExamples_data()
    {
        QTest::addColumn<QString>("lok"); // keys typed; "\b" is Backspace
        QTest::addColumn<QString>("sys");
        QTest::addColumn<QString>("prod");
        QTest::addColumn<QString>("nr1");
        QTest::addColumn<QString>("nr2");
        QTest::addColumn<bool>("unik");
        QTest::addColumn<QString>("idnr");
        QTest::addColumn<QString>("tekst");
        QTest::addColumn<QString>("expected");

        QTest::newRow("empty") << ""
                               << ""
                               << ""
                               << "01"
                               << "01" << false << ""
                               << ""
                               << "+=.01-01";
        QTest::newRow("picked") << "b1"
                                << "210"
                                << "ab"
                                << "01"
                                << "01" << false << ""
                                << ""
                                << "+B1=210.01-AB01";
        QTest::newRow("type-unique") << "b1"
                                     << "210"
                                     << "ab"
                                     << "01"
                                     << "01" << true << "9"
                                     << ""
                                     << "+B1=210.01-AB01T";
        QTest::newRow("ID number") << "b1"
                                   << "210"
                                   << "ab"
                                   << "01"
                                   << "01" << false << "5"
                                   << ""
                                   << "+B1=210.01-AB015";
        QTest::newRow("LHT1") << "lht1"
                              << "310"
                              << "ah"
                              << "12"
                              << "003" << false << ""
                              << ""
                              << "+LHT1=310.12-AH003";
        QTest::newRow("typed texts") << "lht1\b"
                                     << "799"
                                     << "k flens"
                                     << "1"
                                     << "2" << true << ""
                                     << ""
                                     << "+LHT1=799.1-K2T";
        QTest::newRow("short system") << "b1"
                                      << "21\b"
                                      << "ab"
                                      << "01"
                                      << "01" << false << ""
                                      << ""
                                      << "+B1=21.01-AB01";
        QTest::newRow("system code with blank") << ""
                                                << "2 X"
                                                << ""
                                                << "01"
                                                << "01" << false << ""
                                                << ""
                                                << "+=2 X.01-01";
        QTest::newRow("one-letter product") << ""
                                            << ""
                                            << "k\b"
                                            << "01"
                                            << "01" << false << ""
                                            << ""
                                            << "+=.01-K01";
        QTest::newRow("product row without code") << ""
                                                  << ""
                                                  << "store"
                                                  << "01"
                                                  << "01" << false << ""
                                                  << ""
                                                  << "+=.01-St01";
        QTest::newRow("localisation begins with blank") << " b1"
                                                        << ""
                                                        << ""
                                                        << "01"
                                                        << "01" << false << ""
                                                        << ""
                                                        << "+=.01-01";
        QTest::newRow("ID number after the running number") << ""
                                                            << ""
                                                            << ""
                                                            << "01"
                                                            << "01" << false << "007"
                                                            << ""
                                                            << "+=.01-01007";
        QTest::newRow("texts that look like markup") << "<i>x</i>"
                                                     << ""
                                                     << ""
                                                     << "01"
                                                     << "01" << false << ""
                                                     << "<b>pumpe</b>"
                                                     << "+<I>X</I>=.01-01";
    }

    void workedExamples()
    {
        QFETCH(QString, lok);
        QFETCH(QString, sys);
        QFETCH(QString, prod);
        QFETCH(QString, nr1);
        QFETCH(QString, nr2);
        QFETCH(bool, unik);
        QFETCH(QString, idnr);
        QFETCH(QString, tekst);
        start();
        type(box("Lokalisering"), lok);
        type(box("System"), sys);
        type(box("Produkt"), prod);
        retype(edit("Nr1"), nr1);
        retype(edit("Nr2"), nr2);
        retype(edit("IDNr"), idnr);
        type(box("Tekst"), tekst);
        if (unik) QTest::mouseClick(m_form->findChild<QCheckBox *>("Unik"), Qt::LeftButton);
        QTEST(label(), "expected");
        QCOMPARE(m_form->findChild<QLabel *>("TekstLAbel")->text(), tekst.toUpper());
        // Both labels show their text as it stands, never as markup.
        for (const char *name : {"TFMLabel", "TekstLAbel"}) {
            const QLabel *shown = m_form->findChild<QLabel *>(name);
            QVERIFY2(shown->sizeHint().width() >=
                         shown->fontMetrics().horizontalAdvance(shown->text()),
                     name);
        }
    }

    void textAndTypeUniqueFollowAtOnce()
    {
        start();
        type(box("Tekst"), "pumpe 1");
        QCOMPARE(m_form->findChild<QLabel *>("TekstLAbel")->text(), QString("PUMPE 1"));
        retype(edit("IDNr"), "42");
        QCOMPARE(label(), QString("+=.01-0142"));
        auto *unik = m_form->findChild<QCheckBox *>("Unik");
        QTest::mouseClick(unik, Qt::LeftButton);
        QCOMPARE(label(), QString("+=.01-01T"));
        QTest::mouseClick(unik, Qt::LeftButton);
        QCOMPARE(label(), QString("+=.01-0142"));
    }

    void stepping_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("plus");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("error");

        QTest::newRow("01") << "Nr1"
                            << "SpeedButton2"
                            << "01"
                            << "02"
                            << "";
        QTest::newRow("09") << "Nr2"
                            << "SpeedButton1"
                            << "09"
                            << "10"
                            << "";
        QTest::newRow("99") << "Nr2"
                            << "SpeedButton1"
                            << "99"
                            << "100"
                            << "";
        QTest::newRow("0099") << "Nr1"
                              << "SpeedButton2"
                              << "0099"
                              << "0100"
                              << "";
        QTest::newRow("-5") << "IDNr"
                            << "SpeedButton7"
                            << "-5"
                            << "-4"
                            << "";
        QTest::newRow("-09 keeps its sign first") << "IDNr"
                                                  << "SpeedButton7"
                                                  << "-09"
                                                  << "-08"
                                                  << "";
        QTest::newRow("0") << "IDNr"
                           << "SpeedButton7"
                           << "0"
                           << "1"
                           << "";
        QTest::newRow("empty") << "IDNr"
                               << "SpeedButton7"
                               << ""
                               << ""
                               << "";
        QTest::newRow("A1") << "Nr1"
                            << "SpeedButton2"
                            << "A1"
                            << "A1"
                            << "'A1' is not a valid integer value.";
        QTest::newRow("trailing blank") << "Nr2"
                                        << "SpeedButton1"
                                        << "1 "
                                        << "1 "
                                        << "'1 ' is not a valid integer value.";
        QTest::newRow("largest") << "Nr2"
                                 << "SpeedButton1"
                                 << "2147483647"
                                 << "2147483647"
                                 << "Integer overflow.";
    }

    void stepping()
    {
        QFETCH(QString, field);
        QFETCH(QString, plus);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QString, error);
        start();
        QLineEdit *edited = edit(qPrintable(field));
        edited->setText(before);
        const QString labelBefore = label();
        QTest::mouseClick(button(qPrintable(plus)), Qt::LeftButton);
        QCOMPARE(edited->text(), after);
        if (error.isEmpty()) {
            QVERIFY(m_ui->messages.isEmpty());
            QVERIFY2(label().endsWith(after + (field == "Nr1" ? "-01" : "")) || after.isEmpty(),
                     qPrintable(label()));
        } else {
            QCOMPARE(m_ui->texts(), QStringList({error}));
            QCOMPARE(m_ui->messages.at(0).caption, QString("Kalvenor TFM"));
            QCOMPARE(m_ui->messages.at(0).icon, platform::Icon::Error);
            QCOMPARE(label(), labelBefore);
            // The program goes on: the same button works once the field holds a number.
            edited->setText("1");
            QTest::mouseClick(button(qPrintable(plus)), Qt::LeftButton);
            QCOMPARE(edited->text(), QString("2"));
        }
    }

    void copyPutsExactlyTheLabelOnTheClipboard_data()
    {
        QTest::addColumn<QString>("number"); // both running numbers, set as they stand
        QTest::addColumn<QString>("expected");
        QTest::newRow("short") << "01"
                               << "+B1=.01-01";
        // Longer than a one-line edit holds, though each field holds its part.
        const QString half(20'000, u'7');
        QTest::newRow("40,009 characters") << half << "+B1=." + half + u'-' + half;
    }

    void copyPutsExactlyTheLabelOnTheClipboard()
    {
        QFETCH(QString, number);
        QFETCH(QString, expected);
        start();
        type(box("Lokalisering"), "b1");
        type(box("Tekst"), "noe tekst");
        edit("Nr1")->setText(number);
        edit("Nr2")->setText(number);
        QCOMPARE(label(), expected);
        QTest::mouseClick(button("CopyButton"), Qt::LeftButton);
        QClipboard *clipboard = QGuiApplication::clipboard();
        QCOMPARE(clipboard->text(), expected);
        QCOMPARE(clipboard->mimeData()->formats(), QStringList({"text/plain"}));
        QTest::mouseClick(button("CopyButton"), Qt::LeftButton);
        QCOMPARE(clipboard->text(), expected);
        QVERIFY(!edit("CopyEdit")->isVisible());
    }

    void closingAListMovesTheFocus()
    {
        start();
        closeUp(box("Lokalisering"));
        QTRY_COMPARE(m_form->focusWidget(), box("SystemCombo"));
        closeUp(box("System"), 0);
        QTRY_COMPARE(m_form->focusWidget(), edit("Nr1"));
        QCOMPARE(label(), QString("+=210.01-01")); // the pick composes as well
        closeUp(box("Produkt"));
        QTRY_COMPARE(m_form->focusWidget(), edit("Nr2"));

        // An emptied list has no drop-down to show; opening it moves on all the same.
        closeUp(box("SystemUnderCOmbo"), "37. LEDIG");
        QCOMPARE(box("System")->count(), 0);
        QTRY_COMPARE(m_form->focusWidget(), box("System"));
        QTest::keyClick(box("System"), Qt::Key_Down, Qt::AltModifier);
        QTRY_COMPARE(m_form->focusWidget(), edit("Nr1"));
    }

    // ---- Group filters ----

    void groupFilters_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("count");

        const int counts[] = {1, 9, 10, 10, 10, 9, 10, 1};
        for (int i = 0; i < 8; ++i) {
            const QString entry = builtInTable(CodeTable::SystemHovedgruppe).at(i);
            QTest::newRow(qPrintable(entry))
                << "SystemCombo" << entry << "SystemUnderCOmbo" << counts[i];
        }
        QTest::newRow("21. GRUNN") << "SystemUnderCOmbo"
                                   << "21. GRUNN OG FUNDAMENT"
                                   << "System" << 6;
        QTest::newRow("55. LYD") << "SystemUnderCOmbo"
                                 << "55. LYD OG BILDE "
                                 << "System" << 7;
        QTest::newRow("37. LEDIG") << "SystemUnderCOmbo"
                                   << "37. LEDIG"
                                   << "System" << 0;
        QTest::newRow("S.") << "ProduktCombo"
                            << "S. STENGENDE / REGULERENDE"
                            << "Produkt" << 35;
        QTest::newRow("A.") << "ProduktCombo"
                            << "A. BÆRENDE / ROMDANNENDE"
                            << "Produkt" << 12;
        QTest::newRow("Y.") << "ProduktCombo"
                            << "Y. SPESIELT"
                            << "Produkt" << 0;
        QTest::newRow("Z.") << "ProduktCombo"
                            << "Z. SPESIELLE PROSESSUTSTYR FOR VIRKSOMHETEN"
                            << "Produkt" << 0;
    }

    void groupFilters()
    {
        QFETCH(QString, group);
        QFETCH(QString, entry);
        QFETCH(QString, target);
        QFETCH(int, count);
        start();
        TFMComboBox *groupBox = box(qPrintable(group));
        TFMComboBox *targetBox = box(qPrintable(target));
        // Typed by the user, so the label holds it where the target is a part of the label.
        type(targetBox, "typed before");
        const QString labelBefore = label();
        QVERIFY(target == "SystemUnderCOmbo" || labelBefore.contains("ty"));

        closeUp(groupBox, entry);
        QCOMPARE(targetBox->count(), count);
        QCOMPARE(targetBox->text(), QString());
        QCOMPARE(targetBox->selectedIndex(), -1);
        QCOMPARE(groupBox->text(), entry);
        QTRY_COMPARE(m_form->focusWidget(), targetBox);
        QCOMPARE(label(), labelBefore); // nothing recomposes until the user picks
        QVERIFY(m_ui->messages.isEmpty());

        // Closing the list again without a new choice repeats the filter.
        targetBox->setText("typed again");
        m_form->findChild<QLineEdit *>("Nr1")->setFocus();
        closeUp(groupBox);
        QCOMPARE(targetBox->count(), count);
        QCOMPARE(targetBox->text(), QString());
        QTRY_COMPARE(m_form->focusWidget(), targetBox);
    }

    void filterDetails()
    {
        start();
        // Row 55 comes out of the main-group filter without its blank; row 80 from no group.
        closeUp(box("SystemCombo"), "5. TELE OG AUTOMATISERING");
        QVERIFY(box("SystemUnderCOmbo")->items().contains("55. LYD OG BILDE"));
        QStringList reached;
        for (int i = 0; i < 8; ++i) {
            closeUp(box("SystemCombo"), i);
            reached += box("SystemUnderCOmbo")->items();
        }
        QVERIFY(!reached.contains("80. LEDIG"));
        QCOMPARE(reached.size(), 60);

        // The main group narrows the sub-groups only; the system list stays.
        QCOMPARE(box("System")->count(), 225);
        closeUp(box("SystemUnderCOmbo"), "90. LEDIG");
        QCOMPARE(box("System")->count(), 0);

        // A closed list with nothing selected does nothing.
        QCOMPARE(box("ProduktCombo")->selectedIndex(), -1);
        box("Produkt")->setText("x");
        closeUp(box("ProduktCombo"));
        QCOMPARE(box("Produkt")->count(), 305);
        QCOMPARE(box("Produkt")->text(), QString("x"));
    }

    void filterFileDeletedWhileRunning()
    {
        start();
        QFile::remove(dataFile("tfm-system.txt"));
        box("System")->setText("typed");
        edit("Nr2")->setFocus();
        closeUp(box("SystemUnderCOmbo"), "21. GRUNN OG FUNDAMENT");
        QCOMPARE(m_ui->messages.size(), 1);
        QCOMPARE(m_ui->messages.at(0).caption, QString("FEIL"));
        QCOMPARE(m_ui->messages.at(0).text,
                 "Feil under åpning av " + dataFile("tfm-system.txt") + "  (FEILNR.: 2)");
        QCOMPARE(box("System")->count(), 0);
        QCOMPARE(box("System")->text(), QString("typed"));
        QTRY_COMPARE(m_form->focusWidget(), edit("Nr2"));
    }

    // A file over the code lists' limit is refused by the filter as by the reload: it is not
    // walked line by line, and the list it would refill keeps its rows.
    void filterRefusesAFileOverTheLimit()
    {
        basestartup({QStringLiteral("Ostrel")});
        const QString path = dataFile("tfm-produkt.txt");
        QVERIFY(makeHostileFile(path, "linefeeds"));
        createAndShow();
        const QString refusal = "Filen \"" + path +
                                "\" kan ikke åpnes: den har flere enn 100 000 "
                                "linjer, mer enn en kodeliste kan ha.";
        QCOMPARE(m_ui->texts(), QStringList({refusal}));
        box("ProduktCombo")->selectIndex(17);
        box("Produkt")->setText("typed");
        edit("Nr2")->setFocus();
        QVERIFY(!TFMApplication::guarded([this] { m_form->ProduktComboCloseUp(); }));
        QCOMPARE(m_ui->texts(), QStringList({refusal, refusal}));
        QCOMPARE(m_ui->messages.at(1).caption, QString("Kalvenor TFM"));
        QCOMPARE(box("Produkt")->count(), 305);
        QCOMPARE(box("Produkt")->text(), QString("typed"));
        QTRY_COMPARE(m_form->focusWidget(), edit("Nr2"));
        QVERIFY(isHostileFile(path, "linefeeds"));
    }

    // ---- Group matching ----

    void groupMatching()
    {
        start();
        TFMComboBox *system = box("System");
        type(system, "210");
        QCOMPARE(box("SystemCombo")->text(), QString("2. BYGNING"));
        QCOMPARE(box("SystemUnderCOmbo")->text(), QString("21. GRUNN OG FUNDAMENT"));

        // A product change alone does not match; the next system change does.
        type(box("Produkt"), "ab");
        QCOMPARE(box("ProduktCombo")->selectedIndex(), -1);
        type(system, "\b");
        QCOMPARE(box("ProduktCombo")->text(), QString("A. BÆRENDE / ROMDANNENDE"));

        // No group 8: the main group stays; the sub-group 80 is found.
        system->setText(QString());
        type(system, "80");
        QCOMPARE(box("SystemCombo")->text(), QString("2. BYGNING"));
        QCOMPARE(box("SystemUnderCOmbo")->text(), QString("80. LEDIG"));

        // One character moves the main group only; a one-character product moves nothing.
        system->setText("3");
        box("Produkt")->setText("S");
        m_form->FixSystem();
        QCOMPARE(box("SystemCombo")->text(), QString("3. VVS"));
        QCOMPARE(box("SystemUnderCOmbo")->text(), QString("80. LEDIG"));
        QCOMPARE(box("ProduktCombo")->text(), QString("A. BÆRENDE / ROMDANNENDE"));

        // Sub-groups narrowed to group 3: "21" finds no sub-group, and none stays selected.
        closeUp(box("SystemCombo"), "3. VVS");
        system->setText(QString());
        type(system, "21");
        QCOMPARE(box("SystemUnderCOmbo")->selectedIndex(), -1);
        QCOMPARE(box("SystemCombo")->text(), QString("2. BYGNING"));
    }

    // ---- Code-list buttons ----

    void editButtons()
    {
        start();
        closeUp(box("SystemUnderCOmbo"), "21. GRUNN OG FUNDAMENT");
        QCOMPARE(box("System")->count(), 6);
        box("System")->setText("typed");
        writeBytes(dataFile("tfm-lokalisering.txt"), "b1 bygg 1\r\nny linje\r\n");

        const char *buttons[] = {"SpeedButton3", "SpeedButton4", "SpeedButton5", "SpeedButton6"};
        const char *files[] = {"tfm-lokalisering.txt", "tfm-system.txt", "tfm-produkt.txt",
                               "tfm-tekst.txt"};
        for (int i = 0; i < 4; ++i) {
            QTest::mouseClick(button(buttons[i]), Qt::LeftButton);
            QCOMPARE(m_ui->opened.last(), dataFile(files[i]));
        }
        QCOMPARE(m_ui->opened.size(), 4);
        // Each press reloads at once: the narrowing is gone, typed text stays, capitals shown.
        QCOMPARE(box("System")->count(), 225);
        QCOMPARE(box("System")->text(), QString("typed"));
        QCOMPARE(box("System")->selectedIndex(), -1);
        QCOMPARE(box("Lokalisering")->items(), QStringList({"B1 BYGG 1", "NY LINJE"}));

        // A missing file: nothing is opened, nothing written, the lists stay.
        QFile::remove(dataFile("tfm-tekst.txt"));
        QTest::mouseClick(button("SpeedButton6"), Qt::LeftButton);
        QCOMPARE(m_ui->opened.size(), 4);
        QVERIFY(!platform::fileExists(dataFile("tfm-tekst.txt")));
        QCOMPARE(box("Tekst")->count(), 1);
        QVERIFY(m_ui->messages.isEmpty());
    }

    // However long the application-data path, the button hands the desktop the file's whole
    // path; a path cut short would open the folder above, or nothing.
    void editButtonOnALongPath_data()
    {
        QTest::addColumn<int>("length"); // of the application-data path
        QTest::newRow("236 characters") << 236;
        QTest::newRow("300 characters") << 300;
    }

    void editButtonOnALongPath()
    {
        QFETCH(int, length);
        QString appdata = m_box->appdata();
        while (appdata.size() < length)
            appdata += u'/' + QString(std::min<qsizetype>(100, length - appdata.size() - 1), u'a');
        QCOMPARE(appdata.size(), length);
        QVERIFY(QDir().mkpath(appdata));
        qputenv("APPDATA", QFile::encodeName(appdata));
        start();
        QVERIFY(dataFile("tfm-produkt.txt").startsWith(appdata + u'/'));
        QTest::mouseClick(button("SpeedButton5"), Qt::LeftButton);
        QCOMPARE(m_ui->opened, QStringList({dataFile("tfm-produkt.txt")}));
        QVERIFY(m_ui->messages.isEmpty());
    }

    void reloadState()
    {
        start();
        type(box("System"), "210");
        type(box("Produkt"), "ab");
        m_form->FixSystem(); // the product group follows only here
        closeUp(box("SystemUnderCOmbo"), "21. GRUNN OG FUNDAMENT");
        QCOMPARE(box("System")->count(), 6);
        // A file deleted while the program runs: that list stays as it is, narrowed or not.
        QFile::remove(dataFile("tfm-system.txt"));
        QTest::mouseClick(button("SpeedButton3"), Qt::LeftButton);
        QCOMPARE(box("System")->count(), 6);
        QVERIFY(m_ui->messages.isEmpty());
        // The reloaded sub-groups keep their text with no entry selected; the groups keep theirs.
        QCOMPARE(box("SystemUnderCOmbo")->count(), 61);
        QCOMPARE(box("SystemUnderCOmbo")->text(), QString("21. GRUNN OG FUNDAMENT"));
        QCOMPARE(box("SystemUnderCOmbo")->selectedIndex(), -1);
        QCOMPARE(box("SystemCombo")->text(), QString("2. BYGNING"));
        QCOMPARE(box("ProduktCombo")->text(), QString("A. BÆRENDE / ROMDANNENDE"));
        QCOMPARE(box("Produkt")->selectedIndex(), -1);

        // A text set by the program, as at start, equals an entry but selects none. The focus
        // passing through the box leaves it so, and matches no groups behind the user's back.
        box("System")->setText("210 Grunn og fundamenter, generelt");
        closeUp(box("SystemCombo"), "3. VVS");
        QTRY_COMPARE(m_form->focusWidget(), box("SystemUnderCOmbo"));
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form));
        box("System")->setFocus();
        QTRY_VERIFY(box("System")->hasFocus());
        edit("Nr1")->setFocus();
        QTRY_VERIFY(edit("Nr1")->hasFocus());
        QCOMPARE(box("SystemCombo")->text(), QString("3. VVS"));
        QCOMPARE(box("System")->selectedIndex(), -1);
    }

    void reloadHonoursTheByteOrderMark()
    {
        start();
        writeBytes(dataFile("tfm-produkt.txt"), "\xEF\xBB\xBF"
                                                "AB Bj\xC3\xB8rk\r\n");
        writeBytes(dataFile("tfm-system.txt"), "");
        QTest::mouseClick(button("SpeedButton5"), Qt::LeftButton);
        QCOMPARE(box("Produkt")->items(), QStringList({"AB Bjørk"}));
        QCOMPARE(box("System")->count(), 0);
    }

    void startGuideLink()
    {
        start();
        QWidget *link = m_form->findChild<QLabel *>("Label6");
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        // Only the text is the link: a click just right of it opens nothing.
        const QLabel *text = m_form->findChild<QLabel *>("Label6");
        const QPoint pastText(text->x() + text->fontMetrics().horizontalAdvance(text->text()) + 4,
                              text->geometry().center().y());
        QWidget *under = m_form->childAt(pastText);
        QTest::mouseClick(under ? under : m_form, Qt::LeftButton, {},
                          under ? under->mapFrom(m_form, pastText) : pastText);
        QVERIFY(m_ui->opened.isEmpty());
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(m_ui->opened, QStringList({startGuideAddress()}));
        QVERIFY(startGuideAddress().startsWith("https://"));
    }
};

int main(int argc, char *argv[])
{
    TFMApplication app(argc, argv);
    TestTfmForm test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tfmform.moc"
