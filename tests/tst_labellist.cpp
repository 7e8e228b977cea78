// Tests of the label list: its order, its file (encodings, line ends, failures that leave file
// and list as they were), the Delete key, and reading an entry back into the window's fields.
#include "TFM.h"
#include "filedialog.h"
#include "hs_reg.h"
#include "labellist.h"
#include "startup.h"
#include "tfmapplication.h"
#include "tfmcombobox.h"
#include "tfmcore.h"

#include "testsupport.h"
#include "windowfixture.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <random>

class TestLabelList : public QObject, protected WindowFixture {
    Q_OBJECT

  private:
    QListView *list() { return m_form->findChild<QListView *>("MerkeListe"); }
    QCheckBox *unik() { return m_form->findChild<QCheckBox *>("Unik"); }
    QString tekstLabel() { return m_form->findChild<QLabel *>("TekstLAbel")->text(); }
    QStringList entries() { return m_form->labelList()->entries(); }
    void press(const char *button)
    {
        QTest::mouseClick(m_form->findChild<QPushButton *>(button), Qt::LeftButton);
    }
    void select(int row)
    {
        list()->setFocus();
        list()->setCurrentIndex(list()->model()->index(row, 0));
        QCOMPARE(list()->selectionModel()->selectedRows().size(), 1);
    }
    // Types into a field as a user would, characters beyond the keyboard's ASCII included.
    static void typeText(QWidget *field, const QString &text)
    {
        for (QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(field, &press);
        }
    }
    // Sets the fields as a user would, so that the label is composed from them.
    void compose(const QString &lok, const QString &sys, const QString &prod, const QString &tekst)
    {
        for (auto [name, text] : {std::pair{"Lokalisering", lok},
                                  {"System", sys},
                                  {"Produkt", prod},
                                  {"Tekst", tekst}}) {
            QLineEdit *field = box(name)->lineEdit();
            field->selectAll();
            QTest::keyClick(field, Qt::Key_Delete);
            typeText(field, text);
        }
    }
    void add(const QString &lok, const QString &tekst)
    {
        compose(lok, "", "", tekst);
        press("BitBtn1");
    }
    void saveAs(const QString &path)
    {
        FileDialog::setNextFileName(path);
        press("BitBtn2");
    }
    void open(const QString &path)
    {
        FileDialog::setNextFileName(path);
        press("BitBtn3");
    }
    static QByteArray utf16le(const QString &text)
    {
        QByteArray out;
        for (QChar c : text) out.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        return out;
    }
    QStringList filesIn(const QString &folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden);
    }

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // ---- Order ----

    void order_data()
    {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("equal entries side by side")
            << QStringList{"+B=.01-01,X", "+A=.01-01,X", "+C=.01-01,X", "+B=.01-01,X"}
            << QStringList{"+A=.01-01,X", "+B=.01-01,X", "+B=.01-01,X", "+C=.01-01,X"};
        QTest::newRow("letter case aside, in the order added")
            << QStringList{"abd", "ABC", "Abc", "abc", "ABE"}
            << QStringList{"ABC", "Abc", "abc", "abd", "ABE"};
        QTest::newRow("Æ Ø Å after Z") << QStringList{"å", "Z", "Ø", "æ", "a", "Ö"}
                                       << QStringList{"a", "Z", "æ", "Ø", "Ö", "å"};
        QTest::newRow("the whole line counts") << QStringList{"+B1=210,B", "+B1=210,A", "+B1=21,Z"}
                                               << QStringList{"+B1=21,Z", "+B1=210,A", "+B1=210,B"};
        QTest::newRow("empty entries first")
            << QStringList{"a", "", ""} << QStringList{"", "", "a"};
    }
    void order()
    {
        QFETCH(QStringList, added);
        LabelListModel added1, loaded;
        for (const QString &entry : added) added1.add(entry);
        QTEST(added1.entries(), "shown");
        // A file's lines are sorted once on loading, into the same order.
        loaded.replace(added);
        QTEST(loaded.entries(), "shown");
    }

    // A file's lines in any arrangement come out as the collator orders them, equal ones
    // (letter case aside, or the same text composed otherwise) in file order.
    void loadedOrderIsTheCollators()
    {
        const QString half(QChar(0xD800));
        const QStringList lines{"+B1=210.01-AB01T,Bjelke",
                                "+B1=210.01-AB01T,BJELKE",
                                "+B1=210.01-AB01T,bjelke",
                                "+B1=210.01-AB01,X",
                                "+B1=210.01_AB01,X",
                                "+B1=210.01-AB01T,Bjelkå",
                                "+B1=210.01-AB01T,Bjelkaa",
                                "+B1=210.01-AB01T,Bjelke ",
                                "+B1=210.01-AB01T,Bjelke,",
                                "",
                                "",
                                "-",
                                ".",
                                ",",
                                "+",
                                "_",
                                " ",
                                "\t",
                                "\x01",
                                "10",
                                "9",
                                "09",
                                "0",
                                "a",
                                "A",
                                "å",
                                "Å",
                                "æ",
                                "Æ",
                                "aa",
                                "Aa",
                                "AA",
                                "ab",
                                "ä",
                                "ö",
                                "ø",
                                "Ø",
                                "é",
                                "e\u0301",
                                "e",
                                "E",
                                "ë",
                                "ß",
                                "ss",
                                "SS",
                                "z",
                                "Z",
                                half + "a",
                                "a" + half,
                                "abcdefghijklmnopqrstu",
                                "ABCDEFGHIJKLMNOPQRSTU",
                                "abcdefghijklmnopqrstv",
                                "abcdefghijklmnopqrst"};
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        const auto before = [&](const QString &a, const QString &b) {
            return collator.compare(a, b) < 0;
        };
        // As UTF-16 (a lone half needs it), as a byte a letter, and with the long beginning that
        // labels share, for which the sort takes more of each key.
        QStringList narrow, prefixed;
        for (const QString &line : lines) {
            if (std::all_of(line.begin(), line.end(), [](QChar c) { return c.unicode() <= 0xFF; }))
                narrow << line;
            prefixed << "+B1=210.01-AB01T," + line;
        }
        for (const QStringList &set : {lines, narrow, prefixed}) {
            QStringList reversed = set;
            std::reverse(reversed.begin(), reversed.end());
            QStringList interleaved;
            for (qsizetype i = 0; i < set.size(); i += 2) interleaved << set.at(i);
            for (qsizetype i = 1; i < set.size(); i += 2) interleaved << set.at(i);
            // Many equal lines, shuffled, so that the sort splits its input over and over.
            QStringList shuffled = set + set + set + set;
            std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
            for (const QStringList &file : {set, reversed, interleaved, shuffled}) {
                QStringList expected = file;
                std::stable_sort(expected.begin(), expected.end(), before);
                LabelListModel loaded;
                loaded.replace(file);
                QCOMPARE(loaded.entries(), expected);
                // As from a file too small for the sort's records beside its lines.
                LabelStore store;
                for (const QString &line : file) store.append(line);
                LabelListModel small;
                small.adopt(std::move(store), 0);
                QCOMPARE(small.entries(), expected);
            }
        }
    }

    // However an entry is held (a byte a letter, UTF-16 after a wider letter came, a long line
    // as a string of its own, an entry added later), it comes back as it was, also after adds
    // and deletes among the others and through the file.
    void entriesKeptWhole_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("a wider letter midway") << QStringList{"b", "æ", "a", "€", "c", "ø", ""};
        QTest::newRow("lengths of several bytes") << QStringList{QString(63, u'x'),
                                                                 QString(64, u'y'),
                                                                 QString(4095, u'z') + "å",
                                                                 QString(5000, u'w'),
                                                                 "",
                                                                 QString(200000, u'v')};
        QTest::newRow("lengths of two units")
            << QStringList{QString(0x3FFF, u'€'),     QString(0x4000, u'€'), "a",
                           QString(4096, u'b') + "€", QString(5000, u'c'),   "ÿ"};
        QTest::newRow("UTF-8") << QStringList{"æ", "Ω", "a", "å"};
        QTest::newRow("lone halves")
            << QStringList{QString(QChar(0xDC00)), "a", QString(QChar(0xD800)) + "b", "Ω"};
    }
    void entriesKeptWhole()
    {
        QFETCH(QStringList, lines);
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        const auto before = [&](const QString &a, const QString &b) {
            return collator.compare(a, b) < 0;
        };
        QStringList expected = lines;
        std::stable_sort(expected.begin(), expected.end(), before);
        // Lines appended without a count first, as a file that changed between its count and
        // its reading gives them: the first wider letter finds a block of bytes to rewrite.
        LabelStore store;
        for (const QString &line : lines) store.append(line);
        LabelListModel list;
        list.adopt(std::move(store));
        QCOMPARE(list.entries(), expected);

        for (const QString &entry : {QString("b"), QString(5000, u'q'), QString("€"), QString()}) {
            const auto at = std::upper_bound(expected.begin(), expected.end(), entry, before);
            const int row = int(at - expected.begin());
            expected.insert(row, entry);
            QCOMPARE(list.add(entry), row);
        }
        // The first, the last, an added one and one among the opened ones.
        const auto removeRow = [&](qsizetype row) {
            list.remove(int(row));
            expected.removeAt(row);
        };
        removeRow(0);
        removeRow(expected.size() - 1);
        removeRow(expected.indexOf(QString(5000, u'q')));
        removeRow(1);
        QCOMPARE(list.entries(), expected);
        for (int row = 0; row < list.count(); ++row) {
            QCOMPARE(list.entry(row), expected.at(row));
            QCOMPARE(list.visitEntry(row, [](auto text) { return text.toString(); }),
                     expected.at(row));
        }

        const QString file = dataFile("hel.csv");
        QCOMPARE(saveLabelList(file, list), 0);
        LabelListModel reopened;
        QCOMPARE(openLabelList(file, reopened), 0);
        QCOMPARE(reopened.entries(), expected);
    }

    // ---- Through the window ----

    void addDeleteAndKeys()
    {
        start();
        const QFontInfo font(list()->font());
        QVERIFY(font.fixedPitch());
        QCOMPARE(font.pixelSize(), 11);

        compose("b1", "210", "ab", "pumpe, 1");
        QCOMPARE(label(), QString("+B1=210.01-AB01"));
        press("BitBtn1");
        press("BitBtn1");
        add("a", "");
        QCOMPARE(entries(), QStringList({"+A=.01-01,", "+B1=210.01-AB01,PUMPE, 1",
                                         "+B1=210.01-AB01,PUMPE, 1"}));
        QCOMPARE(list()->model()->index(0, 0).data().toString(), QString("+A=.01-01,"));
        QCOMPARE(list()->visualRect(list()->model()->index(1, 0)).height(), 13);

        // Delete with nothing selected changes nothing; other keys are the list's own.
        list()->setFocus();
        list()->selectionModel()->clear();
        QTest::keyClick(list(), Qt::Key_Delete);
        QCOMPARE(entries().size(), 3);
        select(0);
        QTest::keyClick(list(), Qt::Key_Down);
        QCOMPARE(list()->selectionModel()->selectedRows().constFirst().row(), 1);
        QCOMPARE(entries().size(), 3);

        // Delete removes the selected entry whatever the modifiers, and leaves none selected.
        const Qt::KeyboardModifiers modifiers[] = {Qt::NoModifier, Qt::ShiftModifier,
                                                   Qt::ControlModifier | Qt::AltModifier};
        int left = 3;
        for (Qt::KeyboardModifiers held : modifiers) {
            select(0);
            QTest::keyClick(list(), Qt::Key_Delete, held);
            QCOMPARE(entries().size(), --left);
            QVERIFY(list()->selectionModel()->selectedRows().isEmpty());
        }
        // "Lagre" and "Hent fra liste" never change the entries.
        QVERIFY(m_ui->messages.isEmpty());
    }

    // A file opened and saved again: the bytes that come back, the remembered encoding.
    void fileRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QByteArray>("saved");
        const QByteArray mark8("\xEF\xBB\xBF");
        QTest::newRow("unsorted, sorted on the way in")
            << QByteArray("c,3\r\nA,1\r\nb,2\r\n") << QStringList{"A,1", "b,2", "c,3"}
            << QByteArray("A,1\r\nb,2\r\nc,3\r\n");
        const QByteArray anyBytes =
            QByteArray("+A=.01-01,\x81\x8d\x8f\x90\x9d\r\n+B=.01-01,\xe6\xf8\xe5\x80") +
            QByteArray(1, '\0') + "x\r\nb\r\nB\r\n";
        QTest::newRow("sorted CR LF without mark, any bytes, byte for byte")
            << anyBytes
            << QStringList{"+A=.01-01,\u0081\u008d\u008f\u0090\u009d",
                           QString::fromUtf16(u"+B=.01-01,æøå€\0x", 16), "b", "B"}
            << anyBytes;
        QTest::newRow("LF, CR, an empty line, no final end")
            << QByteArray("b\nc\r\ra") << QStringList{"", "a", "b", "c"}
            << QByteArray("\r\na\r\nb\r\nc\r\n");
        QTest::newRow("UTF-8 with mark")
            << mark8 + "\xC3\x98st,2\r\nZ,1\r\n"
            << QStringList{"Z,1", "Øst,2"} << mark8 + "Z,1\r\n\xC3\x98st,2\r\n";
        QTest::newRow("UTF-16 LE") << QByteArray("\xFF\xFE"
                                                 "b\0a\0\r\0\n\0",
                                                 10)
                                   << QStringList{"ba"}
                                   << QByteArray("\xFF\xFE"
                                                 "b\0a\0\r\0\n\0",
                                                 10);
        QTest::newRow("UTF-16 BE")
            << QByteArray("\xFE\xFF\0b\0\r\0\n\0a", 10) << QStringList{"a", "b"}
            << QByteArray("\xFE\xFF\0a\0\r\0\n\0b\0\r\0\n", 14);
        QTest::newRow("a line sorted to the top that would read as a mark")
            << QByteArray("z\r\n\xFF\xFEx\r\n") << QStringList{"ÿþx", "z"}
            << mark8 + "\xC3\xBF\xC3\xBEx\r\nz\r\n";
        QTest::newRow("empty") << QByteArray() << QStringList{} << QByteArray();
        QTest::newRow("only a mark") << mark8 << QStringList{} << mark8;
    }
    void fileRoundTrip()
    {
        QFETCH(QByteArray, file);
        start();
        add("x", "gone on opening");
        const QString path = dataFile("tfm-liste.csv");
        writeBytes(path, file);
        open(path);
        QTEST(entries(), "shown");
        QFile::remove(path);
        saveAs(path);
        QTEST(readBytes(path), "saved");
        QVERIFY(m_ui->messages.isEmpty());
        QCOMPARE(filesIn(kalvenorpath("data\\tfm")).filter("tfm-liste"),
                 QStringList({"tfm-liste.csv"}));
    }

    // Text pasted into a field is taken up to its first line break, as one-line fields have it,
    // so every entry the window makes is one line of the file and comes back from it alike.
    void pastedLineBreaks_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("pasted"); // into "ab|cd"
        QTest::addColumn<QString>("text");
        QTest::newRow("a cell copied with its line end") << "Tekst"
                                                         << "Pumpe\r\n"
                                                         << "ABPUMPECD";
        QTest::newRow("three lines") << "Nr2"
                                     << "1\n2\r3"
                                     << "ab1cd";
        QTest::newRow("a break first") << "Lokalisering"
                                       << "\nX"
                                       << "ABCD";
    }
    void pastedLineBreaks()
    {
        QFETCH(QString, field);
        QFETCH(QString, pasted);
        start();
        TFMComboBox *combo = box(qPrintable(field));
        QLineEdit *line = combo ? combo->lineEdit() : edit(qPrintable(field));
        if (combo)
            combo->setText("abcd");
        else
            line->setText("abcd");
        line->setFocus();
        line->setCursorPosition(2);
        QApplication::clipboard()->setText(pasted);
        line->paste();
        QTEST(line->text(), "text");
        press("BitBtn1");
        const QStringList made = entries();
        saveAs(dataFile("l.csv"));
        open(dataFile("l.csv"));
        QCOMPARE(entries(), made);
        QVERIFY(m_ui->messages.isEmpty());
    }

    void saveDialogAndEncodings()
    {
        start();
        // The first save of a run: an empty list is a file of no bytes; a name typed without an
        // extension gets "csv"; the dialog opens on the data folder and the usual name.
        const QString folder = kalvenorpath("data\\tfm");
        saveAs(folder + "egen");
        QCOMPARE(readBytes(folder + "egen.csv"), QByteArray());
        const FileDialogRequest asked = FileDialog::lastRequest();
        QVERIFY(asked.save);
        QCOMPARE(asked.folder, folder);
        QCOMPARE(asked.fileName, QString("tfm-liste.csv"));
        QCOMPARE(asked.filters, QStringList({"Komma Separert fil (*.csv)", "Alle filer (*)"}));
        QCOMPARE(asked.defaultSuffix, QString("csv"));

        // A cancel writes nothing and changes nothing.
        add("b1", "ø");
        saveAs(QString());
        QCOMPARE(readBytes(folder + "egen.csv"), QByteArray());
        open(QString());
        QCOMPARE(entries(), QStringList({"+B1=.01-01,Ø"}));
        QVERIFY(!FileDialog::lastRequest().save);
        QCOMPARE(FileDialog::lastRequest().folder, folder);
        QCOMPARE(FileDialog::lastRequest().fileName, QString("tfm-liste.csv"));

        // ANSI without a mark; an entry the code page lacks takes the list to UTF-8 with a mark.
        saveAs(folder + "a.csv");
        QCOMPARE(readBytes(folder + "a.csv"), QByteArray("+B1=.01-01,\xD8\r\n"));
        add("b1", "Ω");
        saveAs(folder + "a.csv");
        QCOMPARE(readBytes(folder + "a.csv"),
                 QByteArray("\xEF\xBB\xBF+B1=.01-01,\xC3\x98\r\n+B1=.01-01,\xCE\xA9\r\n"));
        // The encoding is the last opened file's: after a UTF-16 file, UTF-16; after a file
        // without a mark, the code page again.
        writeBytes(folder + "w.csv", QByteArray("\xFF\xFE", 2));
        open(folder + "w.csv");
        add("b", "");
        saveAs(folder + "w.csv");
        QCOMPARE(readBytes(folder + "w.csv"),
                 QByteArray("\xFF\xFE", 2) + utf16le("+B1=.01-01,\r\n"));
        writeBytes(folder + "n.csv", "z\r\n");
        open(folder + "n.csv");
        saveAs(folder + "n.csv");
        QCOMPARE(readBytes(folder + "n.csv"), QByteArray("z\r\n"));
        QVERIFY(m_ui->messages.isEmpty());
    }

    // A file that cannot be written or read: the error box with the system's reason, the old
    // file as it was, the list unchanged, no temporary file left behind.
    void failures_data()
    {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind"); // of what makeHostileFile puts there, if anything
        QTest::addColumn<QString>("message");
        QTest::newRow("open a missing file")
            << false << "mangler.csv"
            << ""
            << "Cannot open file \"%1\". The system cannot find the file specified.";
        QTest::newRow("open a folder") << false << "mappe.csv"
                                       << ""
                                       << "Cannot open file \"%1\". Access is denied.";
        QTest::newRow("save onto a folder") << true << "mappe.csv"
                                            << ""
                                            << "Cannot create file \"%1\". Access is denied.";
        QTest::newRow("save onto a read-only file")
            << true << "skrivebeskyttet.csv"
            << ""
            << "Cannot create file \"%1\". Access is denied.";
        QTest::newRow("save into a missing folder")
            << true << "borte/liste.csv"
            << ""
            << "Cannot create file \"%1\". The system cannot find the path specified.";
        // Nothing waits for the other end of a pipe, and a device is never read or replaced.
        QTest::newRow("open a pipe") << false << "rør.csv"
                                     << "fifo"
                                     << "Cannot open file \"%1\". Access is denied.";
        QTest::newRow("save onto a pipe") << true << "rør.csv"
                                          << "fifo"
                                          << "Cannot create file \"%1\". Access is denied.";
        QTest::newRow("open a link to /dev/zero") << false << "null.csv"
                                                  << "zero"
                                                  << "Cannot open file \"%1\". Access is denied.";
        QTest::newRow("save onto a link to /dev/zero")
            << true << "null.csv"
            << "zero"
            << "Cannot create file \"%1\". Access is denied.";
        // The program's own refusals, in Norwegian, and about reading.
        QTest::newRow("open a file too large to read")
            << false << "stor.csv"
            << "oversized"
            << "Filen \"%1\" kan ikke åpnes: den er større enn 64 MiB, mer enn programmet leser.";
        const QString tooManyLines =
            "Filen \"%1\" kan ikke åpnes: den har flere enn 1 000 000 linjer, mer enn listen tar.";
        QTest::newRow("open a file of a million and one lines") << false << "linjer.csv"
                                                                << "linefeeds" << tooManyLines;
        for (const char *kind : {"64 MiB of LF", "64 MiB of CR", "64 MiB of CR LF"})
            QTest::newRow(qPrintable(QStringLiteral("open %1").arg(kind)))
                << false << "linjeskift.csv" << kind << tooManyLines;
    }
    void failures()
    {
        QFETCH(bool, save);
        QFETCH(QString, name);
        start();
        const QString folder = kalvenorpath("data\\tfm");
        QFETCH(QString, kind);
        if (!kind.isEmpty()) QVERIFY(makeHostileFile(folder + name, kind));
        QDir().mkpath(folder + "mappe.csv");
        writeBytes(folder + "skrivebeskyttet.csv", "gammel\r\n");
        QCOMPARE(platform::setReadOnly(folder + "skrivebeskyttet.csv", true), 0);
        add("b1", "behold");
        const QStringList before = filesIn(folder);

        FileDialog::setNextFileName(folder + name);
        press(save ? "BitBtn2" : "BitBtn3");
        QCOMPARE(m_ui->messages.size(), 1);
        QCOMPARE(m_ui->messages.at(0).caption, QString("Kalvenor TFM"));
        QCOMPARE(m_ui->messages.at(0).icon, platform::Icon::Error);
        QFETCH(QString, message);
        QCOMPARE(m_ui->messages.at(0).text, message.arg(folder + name));
        QCOMPARE(entries(), QStringList({"+B1=.01-01,BEHOLD"}));
        QCOMPARE(filesIn(folder), before);
        QCOMPARE(readBytes(folder + "skrivebeskyttet.csv"), QByteArray("gammel\r\n"));
        if (!kind.isEmpty()) QVERIFY(isHostileFile(folder + name, kind));
        platform::setReadOnly(folder + "skrivebeskyttet.csv", false);
    }

    // "Legg til liste" takes no entry that would make a file "Åpne" refuses: past 1,000,000
    // lines, or past 64 MiB as saving would write it. The box says so, the list stays.
    void addPastTheLimits_data()
    {
        QTest::addColumn<int>("count");      // entries in the list before
        QTest::addColumn<qint64>("written"); // their size as saved
        QTest::addColumn<QString>("tekst");  // of the entry added, "+=.01-01," and this
        QTest::addColumn<QString>("refusal");
        const qint64 max = platform::MaxTextFileSize;
        const QString tooLarge = "Oppføringen er ikke lagt til: med den ville listen bli større "
                                 "enn 64 MiB lagret, og en slik fil kan ikke åpnes igjen.";
        QTest::newRow("a million entries")
            << 1'000'000 << qint64(3'000'000) << ""
            << "Oppføringen er ikke lagt til: listen har alt 1 000 000 linjer, det meste en lagret "
               "liste kan ha og likevel åpnes igjen.";
        QTest::newRow("a byte past 64 MiB") << 64 << max - 10 << "" << tooLarge;
        QTest::newRow("64 MiB to the byte") << 64 << max - 11 << ""
                                            << "";
        // The entry takes the list to UTF-8: a mark first, and two bytes for its letter.
        QTest::newRow("past 64 MiB in UTF-8 only") << 64 << max - 13 << "Ω" << tooLarge;
    }
    void addPastTheLimits()
    {
        QFETCH(int, count);
        QFETCH(qint64, written);
        QFETCH(QString, refusal);
        start();
        QStringList filler;
        const qint64 each = written / count;
        for (int i = 0; i < count; ++i)
            filler.append(QString(
                qsizetype((i + 1 < count ? each : written - each * (count - 1)) - 2), u'z'));
        m_form->labelList()->replace(filler);
        QCOMPARE(m_form->labelList()->writtenSize(), written);
        const QStringList before = entries();
        QFETCH(QString, tekst);
        add("", tekst);
        if (!refusal.isEmpty()) {
            QCOMPARE(m_ui->texts(), QStringList{refusal});
            QVERIFY(entries() == before);
            return;
        }
        // What is taken is saved, and opens again.
        QVERIFY(m_ui->messages.isEmpty());
        QCOMPARE(entries().size(), count + 1);
        saveAs(dataFile("full.csv"));
        QCOMPARE(QFileInfo(dataFile("full.csv")).size(), written + 11);
        m_form->labelList()->replace({});
        open(dataFile("full.csv"));
        QVERIFY(m_ui->messages.isEmpty());
        QCOMPARE(entries().size(), count + 1);
    }

    // The size the list keeps of its file is that of the bytes saving writes, whatever the
    // encoding, as entries come and go.
    void writtenSize_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("remembered"); // platform::Encoding
        const int ansi = int(platform::Encoding::Ansi);
        QTest::newRow("empty") << QStringList{} << ansi;
        QTest::newRow("empty, UTF-8") << QStringList{} << int(platform::Encoding::Utf8);
        QTest::newRow("empty, UTF-16 BE") << QStringList{} << int(platform::Encoding::Utf16BE);
        QTest::newRow("the code page") << QStringList{"æ,1", "b", ""} << ansi;
        QTest::newRow("letters it lacks, to UTF-8")
            << QStringList{"a", "Ω", QStringLiteral(u"😀")} << ansi;
        QTest::newRow("a line that reads as a mark") << QStringList{"ÿþx", "z"} << ansi;
        QTest::newRow("a lone surrogate half, to UTF-16")
            << QStringList{"a", QString(QChar(char16_t(0xD800))) + u'b', "Ω"} << ansi;
        QTest::newRow("UTF-8 remembered") << QStringList{"a", "b"} << int(platform::Encoding::Utf8);
        QTest::newRow("UTF-16 BE remembered")
            << QStringList{"a", "Ω"} << int(platform::Encoding::Utf16BE);
    }
    void writtenSize()
    {
        QFETCH(QStringList, entries);
        QFETCH(int, remembered);
        const auto saved = [](const LabelListModel &list) {
            return qint64(
                platform::encodeLines(list.entries(), saveEncoding(list.entries(), list.encoding()))
                    .size());
        };
        LabelListModel added, loaded;
        for (LabelListModel *list : {&added, &loaded})
            list->setEncoding(platform::Encoding(remembered));
        for (const QString &entry : entries) {
            QVERIFY(added.add(entry) >= 0);
            QCOMPARE(added.writtenSize(), saved(added));
        }
        loaded.replace(entries);
        QCOMPARE(loaded.writtenSize(), saved(loaded));
        while (added.count() > 0) {
            added.remove(added.count() - 1);
            QCOMPARE(added.writtenSize(), saved(added));
        }
    }

    // Opening and saving show the busy cursor while they work, and only then.
    void busyWhileOpeningAndSaving_data()
    {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<bool>>("cursor");
        QTest::addColumn<int>("boxes");
        const QList<bool> busy{true, false};
        QTest::newRow("open") << false << "l.csv" << busy << 0;
        QTest::newRow("save") << true << "l.csv" << busy << 0;
        QTest::newRow("open a missing file") << false << "mangler.csv" << busy << 1;
        QTest::newRow("save into a missing folder") << true << "borte/l.csv" << busy << 1;
        QTest::newRow("cancelled") << false << "" << QList<bool>{} << 0;
    }
    void busyWhileOpeningAndSaving()
    {
        QFETCH(bool, save);
        QFETCH(QString, name);
        start();
        writeBytes(dataFile("l.csv"), "b\r\na\r\n");
        m_ui->cursor.clear();
        FileDialog::setNextFileName(name.isEmpty() ? QString() : dataFile(qPrintable(name)));
        press(save ? "BitBtn2" : "BitBtn3");
        QTEST(m_ui->cursor, "cursor");
        QTEST(int(m_ui->messages.size()), "boxes");
    }

    // A click on "Legg til liste" made while a list opens waits in the queue; carried out after
    // the open, it would add to a list the user had not seen yet. It is dropped.
    void clickDuringAnOpenIsDropped()
    {
        start();
        writeBytes(dataFile("l.csv"), "b\r\na\r\n");
        auto *add = m_form->findChild<QPushButton *>("BitBtn1");
        const auto queueClick = [add] {
            const QPointF at = add->rect().center();
            for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                QCoreApplication::postEvent(
                    add, new QMouseEvent(type, at, add->mapToGlobal(at), Qt::LeftButton,
                                         type == QEvent::MouseButtonPress ? Qt::LeftButton
                                                                          : Qt::NoButton,
                                         Qt::NoModifier));
        };
        // A queued click is carried out as any other.
        queueClick();
        QApplication::processEvents();
        QCOMPARE(entries().size(), 1);
        queueClick();
        FileDialog::setNextFileName(dataFile("l.csv"));
        TFMApplication::guarded([&] { m_form->BitBtn3Click(); });
        QApplication::processEvents();
        QCOMPARE(entries(), QStringList({"a", "b"}));
        // Input after the open is the user's again.
        queueClick();
        QApplication::processEvents();
        QCOMPARE(entries().size(), 3);
    }

    // A disk that fills up during the save: the error box, the old file whole, no temporary.
    void saveOnAFullDisk()
    {
        start();
        const QString folder = kalvenorpath("data\\tfm") + "liten";
        QDir().mkpath(folder);
        SmallDisk disk(folder, 8);
        if (!disk.mounted()) QSKIP("a small file system cannot be mounted here");
        writeBytes(folder + "/l.csv", "gammel\r\n");
        for (int i = 0; i < 3000; ++i)
            m_form->labelList()->add(QString("+B1=210.%1-AB01,TEKST").arg(i));
        saveAs(folder + "/l.csv");
        QCOMPARE(m_ui->texts(), QStringList{"Cannot create file \"" + folder +
                                            "/l.csv\". There is not enough space on the disk."});
        QCOMPARE(readBytes(folder + "/l.csv"), QByteArray("gammel\r\n"));
        QCOMPARE(filesIn(folder), QStringList{"l.csv"});
        QCOMPARE(entries().size(), 3000);
    }

    // A save onto a link writes where the link points and keeps the link, also where that file
    // is not there yet; where it cannot be made, the error box, and the link stays.
    void saveThroughALink_data()
    {
        QTest::addColumn<QString>("target"); // where the link points, in the data folder
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("message");
        QTest::newRow("an existing file") << "mål.csv" << true << "";
        QTest::newRow("a file not made yet") << "mål.csv" << false << "";
        QTest::newRow("into a missing folder")
            << "borte/mål.csv" << false
            << "Cannot create file \"%1\". The system cannot find the path specified.";
        QTest::newRow("itself") << "lenke.csv" << false
                                << "Cannot create file \"%1\". Access is denied.";
    }
    void saveThroughALink()
    {
        QFETCH(QString, target);
        QFETCH(bool, exists);
        QFETCH(QString, message);
        start();
        const QString folder = kalvenorpath("data\\tfm");
        if (exists) writeBytes(folder + target, "gammel\r\n");
        QVERIFY(QFile::link(folder + target, folder + "lenke.csv"));
        add("b1", "ny");
        saveAs(folder + "lenke.csv");
        QCOMPARE(m_ui->texts(), message.isEmpty() ? QStringList()
                                                  : QStringList{message.arg(folder + "lenke.csv")});
        QCOMPARE(QFileInfo(folder + "lenke.csv").symLinkTarget(), folder + target);
        if (message.isEmpty())
            QCOMPARE(readBytes(folder + target), QByteArray("+B1=.01-01,NY\r\n"));
        QCOMPARE(filesIn(folder).filter(".csv."), QStringList());
    }

    // The real save dialog asks before it replaces a file that exists.
    void saveAsksBeforeReplacing()
    {
        start();
        const QString path = dataFile("tfm-liste.csv");
        writeBytes(path, "gammel\r\n");
        add("b1", "ny");
        bool asked = false;
        QTimer::singleShot(0, [&asked] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->objectName(), QString("SaveDialog"));
            // The replace question; answered No, the dialog stays and is cancelled.
            QTimer::singleShot(0, [&asked, dialog] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                asked = box != nullptr;
                if (box) box->button(QMessageBox::No)->click();
                QTimer::singleShot(0, dialog, &QFileDialog::reject);
            });
            static_cast<QDialog *>(dialog)
                ->accept(); // on the name it was opened with, "tfm-liste.csv"
        });
        press("BitBtn2");
        QVERIFY(asked);
        QCOMPARE(readBytes(path), QByteArray("gammel\r\n"));
    }

    // An entry of 32 MB: it opens, the list paints it and reads it back with the fields held to
    // what their edits take, and it stays whole in the list and in the file saved again.
    void longEntry()
    {
        start();
        const QByteArray text(32'000'000, 'a');
        const QByteArray file = "+B1=210.01-AB01," + text + "\r\n";
        writeBytes(dataFile("lang.csv"), file);
        open(dataFile("lang.csv"));
        QCOMPARE(entries().size(), 1);
        QCOMPARE(entries().constFirst().size(), file.size() - 2);
        QVERIFY(!list()->grab().isNull());
        select(0);
        press("BitBtn5");
        const qsizetype room = box("Tekst")->lineEdit()->maxLength();
        QCOMPARE(box("Tekst")->text(), QString(room, u'A'));
        QCOMPARE(tekstLabel(), QString(room, u'a'));
        QCOMPARE(label(), QString("+B1=210.01-AB01"));
        QCOMPARE(entries().constFirst().size(), file.size() - 2);
        saveAs(dataFile("igjen.csv"));
        QVERIFY(readBytes(dataFile("igjen.csv")) == file);
        QVERIFY(m_ui->messages.isEmpty());
    }

    // Adding or deleting one entry looks at the rows on screen, not at every row of the list.
    void changesTouchTheShownRowsOnly()
    {
        struct CountingModel final : LabelListModel {
            mutable int asked = 0;
            QModelIndex index(int row, int column,
                              const QModelIndex &parent = QModelIndex()) const override
            {
                ++asked;
                return LabelListModel::index(row, column, parent);
            }
        } model;
        start();
        QStringList many;
        for (int i = 0; i < 100000; ++i)
            many.append(QString("+B1=210.%1-AB01,TEKST").arg(i, 6, 10, QChar(u'0')));
        model.replace(many);
        list()->setModel(&model);
        QApplication::processEvents();
        list()->repaint();
        const auto asked = [&](auto change) {
            model.asked = 0;
            change();
            QApplication::processEvents();
            list()->repaint();
            return model.asked;
        };
        QCOMPARE_LT(asked([&] { model.add("+A=.01-01,"); }), 1000);
        QCOMPARE(list()->indexAt(QPoint(1, 1)).data().toString(), QString("+A=.01-01,"));
        select(50000);
        // As the Delete key has it: the entry goes, and the selection with it.
        QCOMPARE_LT(asked([&] {
                        model.remove(50000);
                        list()->selectionModel()->clear();
                    }),
                    1000);
        QCOMPARE(model.count(), 100000);
        QCOMPARE(model.entry(50000), many.at(50000));
        // Scrolling to the end still finds the last row.
        select(model.count() - 1);
        QCOMPARE(list()->indexAt(list()->visualRect(list()->currentIndex()).center()).row(),
                 model.count() - 1);
        list()->setModel(m_form->labelList());
    }

    // ---- Reading back ----

    void cutting_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QStringList>("fields"); // Lokalisering System Nr1 Produkt Nr2
        QTest::addColumn<bool>("unik");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("composes"); // the fields compose the entry's label
        QTest::newRow("plain") << "+LHT1=210.01-AB01,PUMPE"
                               << QStringList{"LHT1", "210", "01", "AB", "01"} << false << "PUMPE"
                               << true;
        QTest::newRow("one-letter product")
            << "+LHT1=210.01-X01," << QStringList{"LHT1", "210", "01", "X0", "1"} << false << ""
            << true;
        QTest::newRow("type-unique")
            << "+B1=210.01-AB01T,T" << QStringList{"B1", "210", "01", "AB", "01"} << true << "T"
            << true;
        QTest::newRow("ID number")
            << "+B1=210.01-AB01007," << QStringList{"B1", "210", "01", "AB", "01007"} << false << ""
            << true;
        QTest::newRow("text with commas")
            << "+=.01-01,A, B,,C" << QStringList{"", "", "01", "01", ""} << false << "A, B,,C"
            << true;
        QTest::newRow("short product code")
            << "+=.1-K," << QStringList{"", "", "1", "K", ""} << false << "" << true;
        QTest::newRow("one-letter product, a blank before the number")
            << "+LHT1=210.01-X 1," << QStringList{"LHT1", "210", "01", "X", " 1"} << false << ""
            << true;
        QTest::newRow("no comma") << "+B1=210.01-AB01" << QStringList{"", "", "", "", ""} << false
                                  << "+B1=210.01-AB01" << false;
        QTest::newRow("empty") << "" << QStringList{"", "", "", "", ""} << false << "" << false;
        QTest::newRow("missing separators")
            << "+LHT1-AB,x" << QStringList{"", "", "LHT1", "AB", ""} << false << "x" << false;
        QTest::newRow("short label")
            << "+,x" << QStringList{"", "", "", "", ""} << false << "x" << false;
    }
    void cutting()
    {
        QFETCH(QString, entry);
        QFETCH(QStringList, fields);
        const ReadBack back = readBackEntry(entry);
        const LabelFields &f = back.fields;
        QCOMPARE(QStringList({f.lokalisering, f.system, f.nr1, f.produkt, f.nr2}), fields);
        QTEST(f.unik, "unik");
        QCOMPARE(f.idnr, QString());
        QTEST(back.text, "text");
        QFETCH(bool, composes);
        if (composes) QCOMPARE(composeLabel(f), entry.left(entry.indexOf(u',')));
    }

    // Read back within a field's room, each part is the whole read-back's cut to that room, and
    // the type-unique box is judged on the whole running number.
    void cuttingWithinRoom_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("long text") << "+B1=210.01-AB01," + QString(100, u'a');
        QTest::newRow("no comma") << QString(100, u'x');
        QTest::newRow("long running number ending in T")
            << "+B1=210.01-AB" + QString(100, u'1') + "T,x";
        QTest::newRow("every part long") << "+" + QString(50, u'l') + "=" + QString(50, u's') +
                                                "." + QString(50, u'1') + "-AB" +
                                                QString(50, u'2') + "," + QString(50, u't');
        QTest::newRow("short") << "+B1=210.01-AB01,T";
    }
    void cuttingWithinRoom()
    {
        QFETCH(QString, entry);
        const qsizetype room = 10;
        const ReadBack whole = readBackEntry(entry), cut = readBackEntry(entry, room);
        const LabelFields &w = whole.fields, &c = cut.fields;
        QCOMPARE(QStringList({c.lokalisering, c.system, c.nr1, c.produkt, c.nr2, c.idnr, cut.text}),
                 QStringList({w.lokalisering.left(room), w.system.left(room), w.nr1.left(room),
                              w.produkt.left(room), w.nr2.left(room), w.idnr.left(room),
                              whole.text.left(room)}));
        QCOMPARE(c.unik, w.unik);
    }

    // Whatever Unik and IDNr held before, the fields compose the entry's label; a type-unique
    // label comes back with Unik ticked, so "+" steps the running number.
    void readBackThroughTheWindow_data()
    {
        QTest::addColumn<bool>("unikBefore");
        QTest::addColumn<QString>("idnrBefore");
        QTest::newRow("clear") << false << "";
        QTest::newRow("type-unique") << true << "";
        QTest::newRow("ID number") << false << "5";
    }
    void readBackThroughTheWindow()
    {
        QFETCH(bool, unikBefore);
        QFETCH(QString, idnrBefore);
        start();
        const QString folder = kalvenorpath("data\\tfm");
        writeBytes(folder + "l.csv", "+LHT1=210.01-X01,\r\n+LHT1=210.01-AB01,A, "
                                     "B\r\n+B1=310.02-AH03T,\r\n+B1=310.02-AH037,liten tekst\r\n");
        open(folder + "l.csv");
        const QStringList all = entries();
        for (int row = 0; row < all.size(); ++row) {
            unik()->setChecked(unikBefore);
            edit("IDNr")->setText(idnrBefore);
            select(row);
            press("BitBtn5");
            const QString entry = all.at(row);
            QCOMPARE(label(), entry.left(entry.indexOf(u',')));
            QCOMPARE(tekstLabel(), entry.mid(entry.indexOf(u',') + 1));
            QCOMPARE(box("Tekst")->text(), tekstLabel().toUpper());
            QCOMPARE(unik()->isChecked(), entry.contains("T,"));
        }
        QCOMPARE(entries(), all);
        // A type-unique label read back: "+" steps the running number before the "T".
        select(int(all.indexOf("+B1=310.02-AH03T,")));
        press("BitBtn5");
        QTest::mouseClick(m_form->findChild<QToolButton *>("SpeedButton1"), Qt::LeftButton);
        QCOMPARE(label(), QString("+B1=310.02-AH04T"));
        QVERIFY(m_ui->messages.isEmpty());
    }

    void readBackReloadsAndMatchesTheGroups()
    {
        start();
        QTest::keyClicks(box("Tekst")->lineEdit(), "x");
        add("lht1", "");
        writeBytes(dataFile("l.csv"), "+LHT1=210.01-X01,\r\n");
        // Nothing selected: nothing happens, not even the reload.
        box("SystemUnderCOmbo")
            ->selectIndex(box("SystemUnderCOmbo")->findText("21. GRUNN OG FUNDAMENT"));
        m_form->SystemUnderCOmboCloseUp();
        QCOMPARE(box("System")->count(), 6);
        list()->selectionModel()->clear();
        const QString before = label();
        press("BitBtn5");
        QCOMPARE(box("System")->count(), 6);
        QCOMPARE(label(), before);

        open(dataFile("l.csv"));
        select(0);
        press("BitBtn5");
        QCOMPARE(box("System")->count(), 225);
        QCOMPARE(box("Lokalisering")->text(), QString("LHT1"));
        QCOMPARE(box("System")->text(), QString("210"));
        QCOMPARE(box("Produkt")->text(), QString("X0"));
        QCOMPARE(edit("Nr1")->text(), QString("01"));
        QCOMPARE(edit("Nr2")->text(), QString("1"));
        QCOMPARE(box("SystemCombo")->text(), QString("2. BYGNING"));
        QCOMPARE(box("SystemUnderCOmbo")->text(), QString("21. GRUNN OG FUNDAMENT"));
        // The product main group is found by its first letter.
        QCOMPARE(box("ProduktCombo")->text().left(1), QString("X"));
    }
};

int main(int argc, char *argv[])
{
    TFMApplication app(argc, argv);
    pinNorwegianLocale();
    TestLabelList test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_labellist.moc"
