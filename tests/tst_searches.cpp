// Tests of the two searches and their next buttons, driven through the main window with the
// search dialog answered from the event queue.
#include "TFM.h"
#include "hs_reg.h"
#include "input.h"
#include "startup.h"
#include "tfmapplication.h"
#include "tfmcombobox.h"

#include "answerinput.h"
#include "testsupport.h"
#include "windowfixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

class TestSearches : public QObject, protected WindowFixture {
    Q_OBJECT

  private:
    void narrowSystems(const char *subGroup)
    {
        TFMComboBox *group = box("SystemUnderCOmbo");
        group->selectIndex(group->findText(subGroup));
        m_form->SystemUnderCOmboCloseUp();
    }
    // Presses a search button and answers its dialog; returns what the dialog showed.
    InputSeen search(const char *which, std::optional<QString> typed, bool ok = true)
    {
        InputAnswer answer(typed, ok);
        QTest::mouseClick(button(which), Qt::LeftButton);
        return answer.seen;
    }
    void next(const char *which) { QTest::mouseClick(button(which), Qt::LeftButton); }

  private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void hits_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("found");
        QTest::addColumn<int>("index");
        QTest::newRow("bjelk") << "SpeedButton9"
                               << "bjelk"
                               << "Produkt"
                               << "AB Bjelker, Drager, Dip, Bæring" << 0;
        QTest::newRow("a code prefix") << "SpeedButton8"
                                       << "21"
                                       << "System"
                                       << "210 Grunn og fundamenter, generelt" << 0;
        QTest::newRow("lower-case æ finds Æ")
            << "SpeedButton8"
            << "primærk"
            << "System"
            << "261 Primærkonstruksjoner Takstoler, Åser, Sperrer" << 29;
        QTest::newRow("lower-case å finds Å")
            << "SpeedButton8"
            << "åser"
            << "System"
            << "261 Primærkonstruksjoner Takstoler, Åser, Sperrer" << 29;
        QTest::newRow("upper-case Ø finds ø")
            << "SpeedButton9"
            << "NØDDUSJ"
            << "Produkt"
            << "UD Dusjer Dusjbatterier, Nøddusjer, Øyeskyllere" << 259;
        QTest::newRow("blanks count") << "SpeedButton8"
                                      << "v på"
                                      << "System"
                                      << "217 Gulv på grunn Drenering, Radonsikring" << 3;
    }
    void hits()
    {
        QFETCH(QString, which);
        QFETCH(QString, typed);
        QFETCH(QString, field);
        start();
        narrowSystems("37. LEDIG"); // the search undoes the filter
        const InputSeen seen = search(qPrintable(which), typed);
        QVERIFY(seen.asked);
        QCOMPARE(seen.prompt, which == "SpeedButton8" ? QString("Søk etter system ..")
                                                      : QString("Søk etter produkt .."));
        QTEST(box(qPrintable(field))->text(), "found");
        QCOMPARE(box(qPrintable(field))->selectedIndex(),
                 box(qPrintable(field))->findText(box(qPrintable(field))->text()));
        QTEST(field == "System" ? SystemIndeks : ProduktIndeks, "index");
        QCOMPARE(SisteLet, typed.toUpper());
        QCOMPARE(box("System")->count(), 225);
        const bool system = field == "System";
        QCOMPARE(button("SystemNeste")->isEnabled(), system);
        QCOMPARE(button("ProduktNeste")->isEnabled(), !system);
        // The groups follow, and the label is composed from the hit.
        if (system)
            QCOMPARE(box("SystemCombo")->text(), QString("2. BYGNING"));
        else
            QCOMPARE(box("ProduktCombo")->text().left(1), box("Produkt")->text().left(1));
        QVERIFY(label().contains(box(qPrintable(field))->text().left(system ? 3 : 2)));
        // The next search dialog of either kind offers the text in capitals.
        QCOMPARE(search("SpeedButton8", std::nullopt, false).offered, typed.toUpper());
        QCOMPARE(search("SpeedButton9", std::nullopt, false).offered, typed.toUpper());
    }

    // Cancelled or accepted empty: nothing at all changes, the lists are not even reloaded.
    void noAnswerChangesNothing_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::newRow("cancel") << false;
        QTest::newRow("empty") << true;
    }
    void noAnswerChangesNothing()
    {
        QFETCH(bool, ok);
        start();
        search("SpeedButton9", "bjelk");
        narrowSystems("21. GRUNN OG FUNDAMENT");
        box("System")->setText("typed");
        const QString before = label();
        for (const char *which : {"SpeedButton8", "SpeedButton9"}) {
            QVERIFY(search(which, QString(""), ok).asked);
            QCOMPARE(box("System")->count(), 6);
            QCOMPARE(box("System")->text(), QString("typed"));
            QCOMPARE(box("Produkt")->text(), QString("AB Bjelker, Drager, Dip, Bæring"));
            QCOMPARE(label(), before);
            QCOMPARE(SisteLet, QString("BJELK"));
            QVERIFY(!button("SystemNeste")->isEnabled());
        }
    }

    // A miss reloads the lists (the filter is gone) but keeps the fields' texts and the rest.
    void missReloadsAndKeepsTheRest()
    {
        start();
        InputSeen seen = search("SpeedButton8", "zzz");
        QVERIFY(seen.asked);
        QCOMPARE(SisteLet, QString());
        // At the very first search the dialog then offers the text as it was typed.
        search("SpeedButton8", "Zz y", false);
        QCOMPARE(search("SpeedButton8", std::nullopt, false).offered, QString("zzz"));

        narrowSystems("21. GRUNN OG FUNDAMENT");
        box("System")->setText("typed");
        box("Produkt")->setText("AB egen");
        search("SpeedButton9", "ingen slik");
        QCOMPARE(box("System")->count(), 225);
        QCOMPARE(box("System")->text(), QString("typed"));
        QCOMPARE(box("Produkt")->text(), QString("AB egen"));
        QCOMPARE(SisteLet, QString());
        QVERIFY(!button("SystemNeste")->isEnabled());
        QVERIFY(!button("ProduktNeste")->isEnabled());
        QVERIFY(m_ui->messages.isEmpty());
    }

    // Next goes on to the following hit, never wraps, and follows the latest search text of
    // either kind; a new search starts again at the top.
    void nextWalksOn()
    {
        start();
        search("SpeedButton9", "bjelk");
        next("ProduktNeste");
        QCOMPARE(box("Produkt")->text(), QString("KV Kraner Traverskraner, Løftebjelker, Taljer"));
        QCOMPARE(ProduktIndeks, 118);
        QCOMPARE(box("ProduktCombo")->text().left(1), QString("K"));
        next("ProduktNeste");
        next("ProduktNeste");
        QCOMPARE(ProduktIndeks, 118);
        QCOMPARE(box("Produkt")->text(), QString("KV Kraner Traverskraner, Løftebjelker, Taljer"));
        search("SpeedButton9", std::nullopt); // BJELK offered and taken
        QCOMPARE(ProduktIndeks, 0);

        // A system hit and then a product hit: the system's next looks for the product's text,
        // from the last system hit, in the list as it is (no reload).
        search("SpeedButton8", "pæling");
        QCOMPARE(SystemIndeks, 1);
        search("SpeedButton9", "pele");
        QCOMPARE(box("Produkt")->text().left(2), QString("AH"));
        const QString produkt = box("Produkt")->text();
        next("SystemNeste");
        QCOMPARE(SystemIndeks, 2);
        QCOMPARE(box("System")->text(),
                 QString("214 Fundamenter Pele og pillarfundamenter, Såler"));
        QCOMPARE(box("Produkt")->text(), produkt);
        QCOMPARE(SisteLet, QString("PELE"));
    }

    // A hit on the last line, then a filter that leaves fewer lines: next starts at the top.
    void nextAfterTheListGotShorter()
    {
        basestartup({QStringLiteral("Ostrel")});
        writeBytes(dataFile("tfm-system.txt"),
                   "210 Fundament\r\n310 Sanitær\r\n799 Fundament, spesial\r\n");
        baseshutdown();
        start();
        search("SpeedButton8", "fundament");
        next("SystemNeste");
        QCOMPARE(SystemIndeks, 2);
        // No hit left in the shorter list: the index is reset to -1, nothing else changes.
        narrowSystems("31. SANITÆR");
        QCOMPARE(box("System")->count(), 1);
        const QString before = label();
        next("SystemNeste");
        QCOMPARE(SystemIndeks, -1);
        QCOMPARE(box("System")->selectedIndex(), -1);
        QCOMPARE(label(), before);
        narrowSystems("21. GRUNN OG FUNDAMENT");
        next("SystemNeste");
        QCOMPARE(SystemIndeks, 0);
        QCOMPARE(box("System")->text(), QString("210 Fundament"));
    }

    void lastSearchTextAcrossARestart()
    {
        start();
        search("SpeedButton9", "bjelk");
        stop();
        TFMInitialization();
        inputInitialization();
        start();
        QVERIFY(!button("ProduktNeste")->isEnabled());
        QCOMPARE(search("SpeedButton8", std::nullopt, false).offered, QString("BJELK"));
    }
};

int main(int argc, char *argv[])
{
    TFMApplication app(argc, argv);
    pinNorwegianLocale();
    TestSearches test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_searches.moc"
