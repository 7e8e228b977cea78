// Tests of the built-in code tables, the code-list files (factory files, reload) and the group
// filters' line-by-line reading, without the window.
#include "tfmcore.h"

#include "platform.h"
#include "testsupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <csignal>

#include <sys/resource.h>

namespace {

QStringList codes(const QString &list) { return list.split(QStringLiteral(", ")); }

// Two capital letters and a blank, or "none".
QString productCode(const QString &row)
{
    if (row.size() >= 3 && row.at(0).isUpper() && row.at(1).isUpper() && row.at(2) == u' ')
        return row.left(2);
    return QStringLiteral("none");
}

QList<int> rowsContaining(const QStringList &rows, const QString &piece)
{
    QList<int> found;
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (rows.at(i).contains(piece)) found.append(int(i) + 1);
    return found;
}

const QStringList &table(CodeTable t) { return builtInTable(t); }

} // namespace

class TestCodeLists : public QObject {
    Q_OBJECT

  private slots:
    // ---- Built-in tables: every binding fact ----

    void rowCountsAndCharacters()
    {
        const QList<std::pair<CodeTable, int>> counts = {{CodeTable::Lokalisering, 9},
                                                         {CodeTable::SystemHovedgruppe, 8},
                                                         {CodeTable::ProduktHovedgruppe, 23},
                                                         {CodeTable::Tekst, 1},
                                                         {CodeTable::Systemgruppe, 61},
                                                         {CodeTable::System, 225},
                                                         {CodeTable::Produkt, 305}};
        const QString extra = QStringLiteral("ÆØÅæøåé–");
        int endingInBlank = 0;
        for (const auto &[t, n] : counts) {
            const QStringList &rows = table(t);
            QCOMPARE(rows.size(), n);
            for (const QString &row : rows) {
                QVERIFY2(!row.isEmpty() && !row.startsWith(u' '), qPrintable(row));
                QVERIFY2(platform::ansiCanHold(row), qPrintable(row));
                for (QChar c : row)
                    QVERIFY2((c >= u' ' && c <= u'~') || extra.contains(c), qPrintable(row));
                endingInBlank += row.endsWith(u' ');
            }
        }
        QCOMPARE(endingInBlank, 2); // sub-group 55 and product EB
        QCOMPARE(rowsContaining(table(CodeTable::Produkt), "–"), QList<int>({30, 209, 215}));
        for (CodeTable t :
             {CodeTable::Lokalisering, CodeTable::SystemHovedgruppe, CodeTable::ProduktHovedgruppe,
              CodeTable::Tekst, CodeTable::Systemgruppe, CodeTable::System})
            QVERIFY(rowsContaining(table(t), "–").isEmpty());
    }

    void smallTables()
    {
        QCOMPARE(table(CodeTable::Lokalisering),
                 QStringList({"B1 BYGG 1", "B2 BYGG 2", "HA HALL A", "HB HALL B", "S1 SONE 1",
                              "S2 SONE 2", "K1 KAI 1", "K2 KAI 2", "LHT1 LEILIGHET 1"}));
        QCOMPARE(table(CodeTable::SystemHovedgruppe),
                 QStringList({"1. LEDIG", "2. BYGNING", "3. VVS", "4. ELKRAFT",
                              "5. TELE OG AUTOMATISERING", "6. ANDRE INSTALLASJONER", "7. UTENDØRS",
                              "9. PROSESSYSTEM FOR BEDRIFTEN"}));
        QCOMPARE(table(CodeTable::ProduktHovedgruppe),
                 QStringList({"A. BÆRENDE / ROMDANNENDE",
                              "B. INNEBYGGENDE",
                              "C. KOMPLETERENDE",
                              "D. ÅPNENDE",
                              "E. BEKLEDENDE",
                              "F. INNREDENDE VEGGFAST",
                              "G. MØBLERENDE / UTSTYR / INVENTAR",
                              "H. HJELPENDE (MOBILT)",
                              "I. PRODUSERENDE",
                              "J. FORSTERKENDE",
                              "K. OVERFØRENDE / TRANSPORTERENDE",
                              "L. OMFORMENDE / VEKSLENDE",
                              "M. FILTRERENDE / RENSENDE",
                              "N. LAGRENDE",
                              "O. PROSESSERENDE",
                              "Q. VERNENDE / DEMPENDE",
                              "R. REGISTRERENDE",
                              "S. STENGENDE / REGULERENDE",
                              "U. UTTAKENDE",
                              "V. UTVENDIG",
                              "X. EL.PRODUKTER",
                              "Y. SPESIELT",
                              "Z. SPESIELLE PROSESSUTSTYR FOR VIRKSOMHETEN"}));
        QCOMPARE(
            table(CodeTable::Tekst),
            QStringList({"EKSEMPELTEKST, TRYKK PÅ KNAPPEN TIL VENSTRE FOR Å REDIGERE LISTEN"}));
    }

    void subGroups()
    {
        const QStringList &rows = table(CodeTable::Systemgruppe);
        QStringList got;
        QStringList ledig, spesial, generelle;
        for (const QString &row : rows) {
            QVERIFY2(QRegularExpression("^\\d\\d\\. [^a-zæøå]+$").match(row).hasMatch(),
                     qPrintable(row));
            got.append(row.left(2));
            const QString name = row.mid(4);
            if (name == "LEDIG") ledig.append(row.left(2));
            if (name == "SPESIALSYSTEM") spesial.append(row.left(2));
            if (name == "GENERELLE SYSTEM") generelle.append(row.left(2));
        }
        QCOMPARE(got, codes("10, 20, 21, 22, 23, 24, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, "
                            "37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, "
                            "54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65, 67, 68, 69, 70, 71, "
                            "72, 73, 74, 75, 76, 77, 78, 79, 80, 90"));
        QCOMPARE(rows.mid(0, 4),
                 QStringList({"10. LEDIG", "20. LEDIG", "21. GRUNN OG FUNDAMENT", "22. RÅBYGG"}));
        QCOMPARE(rows.last(), QString("90. LEDIG"));
        QCOMPARE(ledig, codes("10, 20, 30, 37, 40, 47, 48, 50, 58, 60, 70, 80, 90"));
        QCOMPARE(spesial, codes("39, 49, 59, 69, 79"));
        QCOMPARE(generelle, codes("41, 51"));
        QCOMPARE(rows.at(35), QString("55. LYD OG BILDE "));
        for (const char *named :
             {"31. SANITÆR", "36. LUFTBEHANDLING", "42. HØYSPENNING", "44. LYS",
              "52. DATAKOMMUNIKASJON", "62. HEISER", "65. AVFALL OG RENHOLD",
              "75. UTENDØRS TELE OG AUTOMASJON", "78. VANN OG AVLØP (VA-SYSTEMER)"})
            QVERIFY2(rows.contains(QString::fromUtf8(named)), named);

        // Sub-groups without systems.
        QSet<QString> withSystems;
        for (const QString &row : table(CodeTable::System)) withSystems.insert(row.left(2));
        QStringList without;
        for (const QString &code : got)
            if (!withSystems.contains(code)) without.append(code);
        QCOMPARE(without,
                 codes("10, 20, 30, 37, 40, 47, 48, 50, 58, 59, 60, 65, 67, 68, 69, 70, 80, 90"));
    }

    void systems()
    {
        const QStringList &rows = table(CodeTable::System);
        const QSet<QString> subGroups = [] {
            QSet<QString> s;
            for (const QString &row : table(CodeTable::Systemgruppe)) s.insert(row.left(2));
            return s;
        }();
        QStringList got, spesial, utstyr;
        int longest = 0;
        for (const QString &row : rows) {
            QVERIFY2(QRegularExpression("^\\d\\d\\d .*[a-zæøå]").match(row).hasMatch(),
                     qPrintable(row));
            QVERIFY(subGroups.contains(row.left(2)));
            QVERIFY(row.at(0) >= u'2' && row.at(0) <= u'7');
            if (!got.isEmpty())
                QVERIFY2(got.last() < row.left(3), qPrintable(row)); // ascending, unique
            got.append(row.left(3));
            if (row.mid(4) == "Spesialsystem") spesial.append(row.left(3));
            if (row.mid(4) == "Utstyr / enheter") utstyr.append(row.left(3));
            longest = std::max(longest, int(row.size()));
        }
        QCOMPARE(got, codes("210, 213, 214, 217, 218, 219, 220, 221, 222, 223, 224, 225, 226, 227, "
                            "228, 229, 232, "
                            "233, 235, 237, 238, 239, 240, 242, 244, 245, 246, 248, 249, 261, 262, "
                            "263, 264, 266, "
                            "267, 268, 269, 270, 271, 272, 273, 274, 275, 277, 278, 279, 280, 285, "
                            "286, 288, 291, "
                            "292, 293, 294, 295, 297, 298, 299, 310, 313, 317, 318, 319, 328, 329, "
                            "332, 334, 336, "
                            "337, 338, 339, 342, 343, 348, 349, 350, 352, 353, 358, 359, 360, 362, "
                            "363, 367, 368, "
                            "369, 382, 388, 389, 390, 391, 392, 393, 398, 399, 411, 412, 413, 418, "
                            "419, 421, 422, "
                            "428, 429, 431, 432, 433, 434, 435, 438, 439, 442, 443, 448, 449, 452, "
                            "453, 454, 458, "
                            "459, 468, 469, 498, 499, 511, 514, 520, 528, 529, 530, 532, 533, 534, "
                            "535, 536, 538, "
                            "539, 542, 543, 544, 545, 546, 547, 548, 549, 552, 553, 554, 555, 556, "
                            "558, 559, 563, "
                            "564, 565, 568, 569, 571, 572, 578, 579, 611, 612, 613, 618, 619, 621, "
                            "622, 623, 628, "
                            "629, 631, 633, 638, 639, 648, 649, 713, 718, 719, 720, 721, 722, 724, "
                            "725, 726, 728, "
                            "729, 731, 732, 737, 738, 744, 745, 746, 748, 749, 751, 752, 758, 759, "
                            "761, 762, 767, "
                            "768, 769, 771, 772, 773, 774, 775, 776, 778, 779, 781, 782, 783, 784, "
                            "785, 786, 787, "
                            "788, 789, 798, 799"));
        QCOMPARE(rows.first(), QString("210 Grunn og fundamenter, generelt"));
        QCOMPARE(rows.last(), QString("799 Spesialsystem"));
        QCOMPARE(rows.at(58), QString("310 Sanitær"));
        QCOMPARE(longest, 175);
        QCOMPARE(rows.at(44).left(4), QString("278 "));
        QCOMPARE(rows.at(44).size(), 175);
        QCOMPARE(std::count_if(rows.begin(), rows.end(),
                               [](const QString &r) { return r.size() == 175; }),
                 1);
        QCOMPARE(spesial, codes("219, 249, 339, 389, 419, 429, 439, 449, 459, 499, 529, 559, 569, "
                                "579, 619, 649, 719, 729, 749, 759, 769, 779, 789, 799"));
        QCOMPARE(utstyr, codes("218, 228, 328, 348, 418, 428, 438, 448, 458, 468, 498, 528, 538, "
                               "548, 558, 568, 578, 618, 628, 638, 648, 718, 738, 748, 758, 768, "
                               "778, 788, 798"));
        for (const char *odd :
             {"239 Spesialsystem. Solavskjerming", "279 Spesialsystem Statsbygg", "221 Raqmmer",
              "229 Spasialsystem", "442 Belysningssytem Ulike typer grupperes i system",
              "286 Brukerutstyr Stoler, Bord, Benker, Knagger, Matter "
              "(Alternativt eget identifikasjonssystem for brukeru",
              "263 Overlys Takluker For røykluker, se =367 Røyk- og "
              "brannventilasjon"})
            QVERIFY2(rows.contains(QString::fromUtf8(odd)), odd);
        QCOMPARE(rowsContaining(rows, "\""), QList<int>({185}));
        QVERIFY(QRegularExpression("^725 .*\"[^\" ]+\"").match(rows.at(184)).hasMatch());
    }

    void products()
    {
        const QStringList &rows = table(CodeTable::Produkt);
        QStringList got;
        int longest = 0;
        for (const QString &row : rows) {
            got.append(productCode(row));
            longest = std::max(longest, int(row.size()));
        }
        QCOMPARE(got, codes("AB, AE, AF, AG, AH, AK, AL, AO, AP, AR, AS, AV, BA, BB, BC, BF, BG, "
                            "BI, BP, BS, CB, "
                            "CC, CD, CG, none, none, CI, CK, CM, CO, CP, CQ, CR, CT, CX, DB, DF, "
                            "DI, DL, DP, DT, "
                            "DU, DV, EB, EC, EH, FA, FB, FC, FD, FF, FH, FI, FK, FO, FR, FS, FT, "
                            "FV, FX, GA, GB, "
                            "GD, GE, GF, GG, GH, GK, GL, GM, GN, GO, GP, GQ, GS, GT, GV, GW, GX, "
                            "HA, HB, HC, HM, "
                            "HS, HT, HV, IB, ID, IE, IF, IG, IK, IM, IO, IP, IS, IT, IU, IV, JF, "
                            "JK, JP, JQ, JV, "
                            "JW, KA, KD, KG, KH, KK, KM, KN, KO, KQ, KR, KS, KT, KU, KV, KW, KX, "
                            "KY, KZ, LB, LC, "
                            "LD, LE, LF, LG, LH, LI, LK, LL, LN, LO, LP, LQ, LR, LS, LU, LV, LX, "
                            "LZ, MA, MB, MC, "
                            "ME, MF, MG, MK, ML, MM, MO, MR, MS, MT, MU, MV, MX, NB, NC, NI, NK, "
                            "NM, NO, NT, NU, "
                            "NV, NW, NX, NY, NZ, OA, OB, OD, OE, OM, OP, OQ, OR, OS, OT, OU, QB, "
                            "QD, QE, QF, QH, "
                            "QL, QM, QN, QO, QP, QR, QS, QT, QV, QX, QY, QZ, RA, RB, RC, RD, RE, "
                            "RF, RG, RH, RI, "
                            "RJ, RK, RM, RN, RP, RQ, RR, RS, RT, RU, RV, RW, RX, RY, RZ, SA, SB, "
                            "SC, SE, SG, SH, "
                            "SJ, SK, SM, SP, SU, SV, SA, SB, SC, SE, SF, SG, SH, SI, SJ, SK, SM, "
                            "SP, SQ, SR, SS, "
                            "ST, SU, SV, SW, SX, SZ, UA, UB, UD, UE, UF, UG, UH, UJ, UK, UL, UM, "
                            "UN, UO, UP, UR, "
                            "US, UT, UV, UX, UY, UZ, VB, VD, VG, VK, VL, VM, VP, VS, XC, XD, XF, "
                            "XG, XH, XI, XK, "
                            "XL, XM, XN, XO, XP, XQ, XR, XS, XT, XV, XX, XZ"));
        QCOMPARE(rows.first(), QString("AB Bjelker, Drager, Dip, Bæring"));
        QCOMPARE(rows.at(4), QString("AH Pelehode"));
        QVERIFY(rows.last().startsWith("XZ Terminering og tilpasning Inngangsmodul, Utgangsmodul"));
        QCOMPARE(rows.at(24), QString("Store rister (for mindre rister benyttes MR)"));
        QCOMPARE(rows.at(25), QString("Så fremt disse ikke er egne system"));
        QCOMPARE(rows.at(26), QString("CI Så fremt disse ikke er egne system"));
        QCOMPARE(rows.at(224), QString("SA Manuell reguleringsventil"));
        QCOMPARE(rows.at(235), QString("SV Innreguleringsventil, strupeventil"));
        QCOMPARE(rows.at(236), QString("SA Reguleringsventil, manuell Manuelle ventiler 2-Veis, "
                                       "3-Veis, Fireveisventiler, Shuntventiler, Radiatorventil"));
        QCOMPARE(rows.at(256), QString("SZ Brannspjeld / Røykspjeld"));
        QCOMPARE(rows.at(227), QString("SE Ekspansjonsventil"));
        QCOMPARE(rows.at(239), QString("SE Ekspansjonsventil"));
        for (int i = 0; i < 12; ++i)
            if (rows.at(224 + i).left(2) != "SE")
                QVERIFY(!rows.mid(236, 21).contains(rows.at(224 + i)));
        QCOMPARE(rowsContaining(rows, "Re+C596kkverk"), QList<int>({190}));
        QCOMPARE(rows.at(189).left(3), QString("QM "));
        QCOMPARE(longest, 386);
        QCOMPARE(rows.at(43).left(3), QString("EB "));
        QCOMPARE(rows.at(43).size(), 386);
        QVERIFY(rows.at(43).endsWith(u' '));
        QCOMPARE(std::count_if(rows.begin(), rows.end(),
                               [](const QString &r) { return r.size() == 386; }),
                 1);
        QCOMPARE(rowsContaining(rows, "\""), QList<int>({29, 272}));
        QCOMPARE(rows.at(28).left(3), QString("CM "));
        QCOMPARE(rows.at(271).left(3), QString("UR "));
        QCOMPARE(rows.at(29).left(3), QString("CO "));
        QCOMPARE(rows.at(208).left(3), QString("RI "));
        QCOMPARE(rows.at(214).left(3), QString("RQ "));

        QString groupLetters;
        for (const QString &g : table(CodeTable::ProduktHovedgruppe)) groupLetters += g.at(0);
        for (const QString &row : rows) {
            QVERIFY2(groupLetters.contains(row.at(0)), qPrintable(row));
            QVERIFY(row.at(0) != u'Y' && row.at(0) != u'Z');
        }
    }

    // ---- Code-list files ----

    void factoryFiles()
    {
        Sandbox box;
        const QString lok = box.work() + "/tfm-lokalisering.txt";
        const QString tekst = box.work() + "/tfm-tekst.txt";
        const QString produkt = box.work() + "/tfm-produkt.txt";
        writeFactoryFile(lok, table(CodeTable::Lokalisering));
        writeFactoryFile(tekst, table(CodeTable::Tekst));
        writeFactoryFile(produkt, table(CodeTable::Produkt));
        QCOMPARE(readBytes(lok).size(), 104);
        QCOMPARE(readBytes(tekst), QByteArray("EKSEMPELTEKST, TRYKK P\xC5 KNAPPEN TIL VENSTRE FOR "
                                              "\xC5 REDIGERE LISTEN\r\n"));
        const QByteArray products = readBytes(produkt);
        QVERIFY(products.startsWith("AB Bjelker, Drager, Dip, B\xE6ring\r\n"));
        QCOMPARE(products.count("\r\n"), 305);
        QCOMPARE(products.count('\n'), 305);
        QVERIFY(products.contains('\x96')); // the en dash in the ANSI code page
        QVERIFY(!products.startsWith("\xEF\xBB\xBF"));

        // An existing file, edited or empty, is never written again.
        writeBytes(lok, "X1 EGEN\r\n");
        writeBytes(produkt, "");
        writeFactoryFile(lok, table(CodeTable::Lokalisering));
        writeFactoryFile(produkt, table(CodeTable::Produkt));
        QCOMPARE(readBytes(lok), QByteArray("X1 EGEN\r\n"));
        QCOMPARE(readBytes(produkt), QByteArray());
    }

    void factoryFileThatCannotBeCreated()
    {
        Sandbox box;
        writeBytes(box.work() + "/notafolder", "x");
        const QString path = box.work() + "/notafolder/tfm-tekst.txt";
        try {
            writeFactoryFile(path, table(CodeTable::Tekst));
            QFAIL("no error");
        } catch (const FileCreateError &e) {
            QVERIFY2(e.message().startsWith("Cannot create file \"" + path + "\". "),
                     qPrintable(e.message()));
        }
    }

    // A full disk is stood in for by a file-size limit: the write stops after 4 KiB.
    void factoryFileOnAFullDisk()
    {
        Sandbox box;
        const QString produkt = box.work() + "/tfm-produkt.txt";
        struct Limit {
            rlimit old{};
            void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
            Limit()
            {
                getrlimit(RLIMIT_FSIZE, &old);
                const rlimit small{4096, old.rlim_max};
                setrlimit(RLIMIT_FSIZE, &small);
            }
            ~Limit()
            {
                setrlimit(RLIMIT_FSIZE, &old);
                std::signal(SIGXFSZ, oldHandler);
            }
        };
        {
            Limit limit;
            QVERIFY_THROWS_EXCEPTION(FileCreateError,
                                     writeFactoryFile(produkt, table(CodeTable::Produkt)));
        }
        QCOMPARE(QDir(box.work()).entryList(QDir::Files | QDir::Hidden), QStringList());
        // The next start finds no file and writes it whole.
        writeFactoryFile(produkt, table(CodeTable::Produkt));
        QCOMPARE(readBytes(produkt).count("\r\n"), 305);
    }

    void reload_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("ANSI, CR LF") << QByteArray("A\xC6\r\nB\r\n") << QStringList({"AÆ", "B"});
        QTest::newRow("LF, CR and empty line")
            << QByteArray("A\nB\rC\r\n\r\nD") << QStringList({"A", "B", "C", "", "D"});
        QTest::newRow("UTF-8 mark")
            << QByteArray("\xEF\xBB\xBF\xC3\x86X\r\n") << QStringList({"ÆX"});
        QTest::newRow("UTF-16 LE mark")
            << QByteArray("\xFF\xFE\xC6\x00\r\x00\n\x00", 8) << QStringList({"Æ"});
        QTest::newRow("UTF-16 BE mark")
            << QByteArray("\xFE\xFF\x00\xC6\x00\r\x00\n", 8) << QStringList({"Æ"});
        QTest::newRow("empty file") << QByteArray() << QStringList();
    }

    void reload()
    {
        QFETCH(QByteArray, bytes);
        Sandbox box;
        const QString path = box.work() + "/tfm-system.txt";
        writeBytes(path, bytes);
        QStringList rows = {"unchanged"};
        QVERIFY(readCodeList(path, rows));
        QTEST(rows, "rows");

        QStringList kept = {"kept"};
        QVERIFY(!readCodeList(box.work() + "/missing.txt", kept));
        QCOMPARE(kept, QStringList({"kept"}));
    }

    void editButtonFiles()
    {
        QCOMPARE(editButtonFile(1), QString("tfm-lokalisering.txt"));
        QCOMPARE(editButtonFile(2), QString("tfm-system.txt"));
        QCOMPARE(editButtonFile(3), QString("tfm-produkt.txt"));
        QCOMPARE(editButtonFile(4), QString("tfm-tekst.txt"));
        QCOMPARE(editButtonFile(0), QString());
        QCOMPARE(editButtonFile(5), QString());
    }

    // ---- Group filters on the factory files ----

    void groupFilter_data()
    {
        QTest::addColumn<int>("file"); // a CodeTable
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("chars");
        QTest::addColumn<QStringList>("lines"); // the codes expected, in order

        const int sub = int(CodeTable::Systemgruppe), sys = int(CodeTable::System),
                  prod = int(CodeTable::Produkt);
        QTest::newRow("1. LEDIG") << sub << "1. LEDIG" << 1 << codes("10");
        QTest::newRow("2. BYGNING")
            << sub << "2. BYGNING" << 1 << codes("20, 21, 22, 23, 24, 26, 27, 28, 29");
        QTest::newRow("3. VVS") << sub << "3. VVS" << 1
                                << codes("30, 31, 32, 33, 34, 35, 36, 37, 38, 39");
        QTest::newRow("5. TELE") << sub << "5. TELE OG AUTOMATISERING" << 1
                                 << codes("50, 51, 52, 53, 54, 55, 56, 57, 58, 59");
        QTest::newRow("6. ANDRE") << sub << "6. ANDRE INSTALLASJONER" << 1
                                  << codes("60, 61, 62, 63, 64, 65, 67, 68, 69");
        QTest::newRow("9. PROSESS") << sub << "9. PROSESSYSTEM FOR BEDRIFTEN" << 1 << codes("90");
        QTest::newRow("21. GRUNN")
            << sys << "21. GRUNN OG FUNDAMENT" << 2 << codes("210, 213, 214, 217, 218, 219");
        QTest::newRow("55. LYD") << sys << "55. LYD OG BILDE " << 2
                                 << codes("552, 553, 554, 555, 556, 558, 559");
        QTest::newRow("37. LEDIG") << sys << "37. LEDIG" << 2 << QStringList();
        QTest::newRow("one character sub-group") << sys << "2" << 2 << QStringList();
        QTest::newRow("Y. SPESIELT") << prod << "Y. SPESIELT" << 1 << QStringList();
        QTest::newRow("Z. SPESIELLE")
            << prod << "Z. SPESIELLE PROSESSUTSTYR FOR VIRKSOMHETEN" << 1 << QStringList();
    }

    void groupFilter()
    {
        QFETCH(int, file);
        QFETCH(QString, entry);
        QFETCH(int, chars);
        QFETCH(QStringList, lines);
        Sandbox box;
        RecordingUi ui;
        const QString path = box.work() + "/list.txt";
        writeFactoryFile(path, table(CodeTable(file)));
        QStringList got;
        QVERIFY(groupLines(path, entry, chars, got));
        QStringList gotCodes;
        for (const QString &line : got) gotCodes.append(line.left(lines.value(0).size()));
        QCOMPARE(gotCodes, lines);
        QVERIFY(ui.messages.isEmpty());
    }

    void productGroupFilter()
    {
        Sandbox box;
        const QString path = box.work() + "/tfm-produkt.txt";
        writeFactoryFile(path, table(CodeTable::Produkt));
        QStringList lines;
        QVERIFY(groupLines(path, "S. STENGENDE / REGULERENDE", 1, lines));
        QCOMPARE(lines.size(), 35);
        QCOMPARE(lines.at(0), QString("Store rister (for mindre rister benyttes MR)"));
        QCOMPARE(lines.at(1), QString("Så fremt disse ikke er egne system"));
        QCOMPARE(lines.count("SE Ekspansjonsventil"), 2);
        QVERIFY(groupLines(path, "A. BÆRENDE / ROMDANNENDE", 1, lines));
        QCOMPARE(lines.size(), 12);
        // The reader trims: the row 55 of the sub-groups loses its blank.
        const QString subPath = box.work() + "/tfm-systemgruppe.txt";
        writeFactoryFile(subPath, table(CodeTable::Systemgruppe));
        QVERIFY(groupLines(subPath, "5. TELE OG AUTOMATISERING", 1, lines));
        QVERIFY(lines.contains("55. LYD OG BILDE"));
    }

    void filterLinesAsRead()
    {
        Sandbox box;
        const QString path = box.work() + "/list.txt";
        // Leading blanks, a tab, an empty line, lower case, a UTF-8 mark read as ANSI bytes.
        writeBytes(path, "   SA med blanke   \r\n\tSB tab\r\n\r\n   \r\nsc liten\r\nSD \xC6\r\n");
        QStringList lines;
        QVERIFY(groupLines(path, "S. STENGENDE / REGULERENDE", 1, lines));
        QCOMPARE(lines, QStringList({"SA med blanke", "SD Æ"}));

        writeBytes(path, "\xEF\xBB\xBFSA f\xC3\xB8rst\r\nSB andre\r\n");
        QVERIFY(groupLines(path, "S. STENGENDE / REGULERENDE", 1, lines));
        QCOMPARE(lines, QStringList({"SB andre"}));
        QVERIFY(groupLines(path, "ï", 1, lines));
        QCOMPARE(lines, QStringList({"ï»¿SA fÃ¸rst"}));
    }

    void filterFileMissing()
    {
        Sandbox box;
        RecordingUi ui;
        const QString path = box.work() + "/tfm-system.txt";
        QStringList lines = {"old"};
        QVERIFY(!groupLines(path, "21. GRUNN OG FUNDAMENT", 2, lines));
        QVERIFY(lines.isEmpty());
        QCOMPARE(ui.messages.size(), 1);
        QCOMPARE(ui.messages.at(0).caption, QString("FEIL"));
        QCOMPARE(ui.messages.at(0).text, "Feil under åpning av " + path + "  (FEILNR.: 2)");
    }

    void groupMatching_data()
    {
        QTest::addColumn<int>("table");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("chars");
        QTest::addColumn<int>("index");
        const int main = int(CodeTable::SystemHovedgruppe), sub = int(CodeTable::Systemgruppe),
                  prod = int(CodeTable::ProduktHovedgruppe);
        QTest::newRow("system 210, main group")
            << main << "210 Grunn og fundamenter, generelt" << 1 << 1;
        QTest::newRow("system 210, sub-group")
            << sub << "210 Grunn og fundamenter, generelt" << 2 << 2;
        QTest::newRow("no group 8") << main << "801" << 1 << -1;
        QTest::newRow("sub-group 80") << sub << "80" << 2 << 59;
        QTest::newRow("one character, sub-group") << sub << "2" << 2 << -1;
        QTest::newRow("product AB") << prod << "AB Bjelker, Drager, Dip, Bæring" << 1 << 0;
        QTest::newRow("empty text") << main << "" << 1 << -1;
    }

    void groupMatching()
    {
        QFETCH(int, table);
        QFETCH(QString, text);
        QFETCH(int, chars);
        QTEST(groupIndex(builtInTable(CodeTable(table)), text, chars), "index");
    }

    void integers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("valid");
        QTest::newRow("leading zeros") << "007" << 7 << true;
        QTest::newRow("leading blanks and sign") << "  +5" << 5 << true;
        QTest::newRow("negative") << "-5" << -5 << true;
        QTest::newRow("largest") << "2147483647" << 2147483647 << true;
        QTest::newRow("smallest") << "-2147483648" << int(-2147483648LL) << true;
        QTest::newRow("too large") << "2147483648" << 0 << false;
        QTest::newRow("trailing blank") << "1 " << 0 << false;
        QTest::newRow("comma") << "1,5" << 0 << false;
        QTest::newRow("sign only") << "-" << 0 << false;
        QTest::newRow("letters") << "A1" << 0 << false;
    }

    void integers()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QFETCH(bool, valid);
        try {
            QCOMPARE(strToInt(text), value);
            QVERIFY(valid);
        } catch (const ConvertError &e) {
            QVERIFY(!valid);
            QCOMPARE(e.message(), "'" + text + "' is not a valid integer value");
        }
    }
};

QTEST_GUILESS_MAIN(TestCodeLists)
#include "tst_codelists.moc"
