// Tests of the settings store on real files: opening and stamping, typed reads, the per-user
// switch, write-back, and settings files that cannot be written.
#include "Felles.h"
#include "hs_reg.h"
#include "inifile.h"
#include "platform.h"
#include "testsupport.h"
#include "textfil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

class TestSettings : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { pinNorwegianLocale(); }
    void init();
    void cleanup();

    void firstStartStampsTenKeys();
    void existingFileGetsModifiedStamps();
    void flags_data();
    void flags();
    void laterDuplicateKeyIsReadAndRewritten();
    void utf8FileStaysUtf8();
    void commentsAndBlanksGoAtWriteBack();
    void perUserFileIsCreatedEmpty();
    void switchesReadFilesAnew();
    void settingsFileInWorkingFolder();
    void workingFolderFileOnlyWhenOwn_data();
    void workingFolderFileOnlyWhenOwn();
    void settingsFileIsItsOwnersAlone_data();
    void settingsFileIsItsOwnersAlone();
    void shutdownWritesAndLogs();
    void readOnlyFilesAreNeverReplaced();
    void unchangedSettingsAreNotWrittenAgain();
    void writeBackTooLargeToReadKeepsTheFile();
    void unwritableFolderNeverStopsTheProgram();
    void failedShutdownWriteIsOneLine();
    void failureLineNamesTheFile_data();
    void failureLineNamesTheFile();
    void fullDiskLeavesTheFileAsItWas();

  private:
    QString etcFolder() const { return m_box->appdata() + "/Kalvenor/etc/"; }
    QString mainFile() const { return etcFolder() + "kalvenor.ini"; }
    bool logged(const QString &text) const;

    std::unique_ptr<Sandbox> m_box;
    std::unique_ptr<RecordingUi> m_ui;
};

// Runs through the moments that write a settings file back (a per-user bracket, a folder
// lookup) and checks that the settings stay in memory whatever the disk does.
static void passEveryWriteBackMoment()
{
    setinisection("TFM");
    iniwritestring("Tekst", "i minnet");
    openuserini();
    iniwritestring("LastInputStr", "x");
    closeuserini();
    QCOMPARE(inireadstring("Tekst"), QString("i minnet"));
    resetinisection();
    QCOMPARE(kalvenorpath("data\\tfm"),
             QString::fromLocal8Bit(qgetenv("APPDATA")) + "/Kalvenor/data/tfm/");
}

void TestSettings::init()
{
    m_box = std::make_unique<Sandbox>();
    m_ui = std::make_unique<RecordingUi>();
    textfilInitialization();
    logtofile = true; // so that failures show in the log
    userparam = "tester";
}

void TestSettings::cleanup()
{
    hs_regFinalization();
    loglines.clear();
    logtofile = verbose = false;
    platform::setClock({});
    m_ui.reset();
    m_box.reset();
}

bool TestSettings::logged(const QString &text) const
{
    for (const QString &line : loglines)
        if (line.contains(text)) return true;
    return false;
}

void TestSettings::firstStartStampsTenKeys()
{
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
    platform::setClock([when] { return when; });
    hs_regInitialization({});
    QCOMPARE(ininame, mainFile());
    QCOMPARE(etcpath, etcFolder());
    QCOMPARE(inisection, QString("STANDARD"));

    // The start-up's first write-back has put the stamps on disk, in the code page, no mark.
    QVERIFY(readBytes(mainFile()).startsWith("[INI_SELF]\r\n"));
    const QString time = datetimetext(when);
    const QString program = platform::programFilePath();
    QStringList expected;
    for (const QString prefix : {"CREATED_", "MODIFIED_"})
        expected << prefix + "TIME=" + time << prefix + "NAME=" + mainFile()
                 << prefix + "PROGRAM=" + program << prefix + "USER=TESTER"
                 << prefix + "INIVERSION=5.36";
    QCOMPARE(IniDocument(mainFile()).sectionLines("INI_SELF"), expected);
}

void TestSettings::existingFileGetsModifiedStamps()
{
    writeBytes(mainFile(), "[STANDARD]\r\nLogToFile=0\r\n");
    hs_regInitialization({});
    const IniDocument disk(mainFile());
    QCOMPARE(disk.sectionNames().first(), QString("STANDARD"));
    QStringList keys;
    for (const QString &line : disk.sectionLines("INI_SELF")) keys << line.section('=', 0, 0);
    QCOMPARE(keys, (QStringList{"MODIFIED_TIME", "MODIFIED_NAME", "MODIFIED_PROGRAM",
                                "MODIFIED_USER", "MODIFIED_INIVERSION"}));
    hs_regFinalization();

    // A later start keeps the first stamps and renews the others in place.
    writeBytes(mainFile(), "[INI_SELF]\r\nCREATED_TIME=long ago\r\nMODIFIED_TIME=yesterday\r\n");
    userparam = "tester";
    hs_regInitialization({});
    const QStringList lines = IniDocument(mainFile()).sectionLines("INI_SELF");
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines[0], QString("CREATED_TIME=long ago"));
    QVERIFY(lines[1].startsWith("MODIFIED_TIME=") && lines[1] != "MODIFIED_TIME=yesterday");
}

void TestSettings::flags_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("on");

    QTest::newRow("1") << QByteArray("[STANDARD]\r\nLogToFile=1\r\n") << true;
    QTest::newRow("1 among blanks") << QByteArray("[STANDARD]\r\n  LogToFile  =  1  \r\n") << true;
    QTest::newRow("0x10") << QByteArray("[STANDARD]\r\nLogToFile=0x10\r\n") << true;
    QTest::newRow("$10") << QByteArray("[STANDARD]\r\nLogToFile=$10\r\n") << true;
    QTest::newRow("0") << QByteArray("[STANDARD]\r\nLogToFile=0\r\n") << false;
    QTest::newRow("empty") << QByteArray("[STANDARD]\r\nLogToFile=\r\n") << false;
    QTest::newRow("true") << QByteArray("[STANDARD]\r\nLogToFile=true\r\n") << false;
    QTest::newRow("lower case") << QByteArray("[standard]\r\nlogtofile=1\r\n") << true;
    QTest::newRow("missing") << QByteArray("[TFM]\r\nLogToFile=1\r\n") << false;
}

void TestSettings::flags()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, on);
    writeBytes(mainFile(), file);
    hs_regInitialization({});
    QCOMPARE(inireadbool("LogToFile"), on);
}

void TestSettings::laterDuplicateKeyIsReadAndRewritten()
{
    writeBytes(mainFile(), "[TFM]\r\nSystem=a\r\nSystem=b\r\n");
    hs_regInitialization({});
    setinisection("TFM");
    QCOMPARE(inireadstring("System"), QString("b"));
    iniwritestring("System", "c");
    resetinisection();
    hs_regFinalization();
    QCOMPARE(IniDocument(mainFile()).sectionLines("TFM"), (QStringList{"System=a", "System=c"}));
}

void TestSettings::utf8FileStaysUtf8()
{
    writeBytes(mainFile(), "\xEF\xBB\xBF[TFM]\r\nTekst=bl\xC3\xA5"
                           "b\xC3\xA6r\r\n");
    hs_regInitialization({});
    const QByteArray bytes = readBytes(mainFile());
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF[TFM]\r\nTekst=bl\xC3\xA5"
                             "b\xC3\xA6r\r\n\r\n"));
    setinisection("TFM");
    QCOMPARE(inireadstring("Tekst"), QString("blåbær"));
}

void TestSettings::commentsAndBlanksGoAtWriteBack()
{
    writeBytes(mainFile(), "; hand-edited\r\n\r\n[TFM]\r\n  Tekst  =  hei  \r\n\r\n\r\n; end\r\n");
    hs_regInitialization({});
    QVERIFY(readBytes(mainFile()).startsWith("[TFM]\r\nTekst=hei\r\n\r\n[INI_SELF]\r\n"));
    QVERIFY(!readBytes(mainFile()).contains(';'));
}

void TestSettings::perUserFileIsCreatedEmpty()
{
    hs_regInitialization({});
    setinisection("VINDU-X");
    openuserini();
    QCOMPARE(inisection, QString("VINDU-X"));
    QCOMPARE(inifile->fileName(), etcFolder() + "TESTER.INI");
    QCOMPARE(inireadint("Left"), 0);
    closeuserini();
    resetinisection();
    QCOMPARE(inifile->fileName(), ininame);
    QCOMPARE(readBytes(etcFolder() + "TESTER.INI"), QByteArray());
}

void TestSettings::switchesReadFilesAnew()
{
    hs_regInitialization({});
    setinisection("TFM");
    iniwritestring("Tekst", "hei  ");
    QCOMPARE(inireadstring("Tekst"), QString("hei  "));
    openuserini();
    // Another program changes the main file meanwhile.
    QByteArray main = readBytes(mainFile());
    writeBytes(mainFile(), main.replace("[TFM]\r\n", "[TFM]\r\nExtern=1\r\n"));
    closeuserini();
    QCOMPARE(inireadstring("Tekst"), QString("hei"));
    QCOMPARE(inireadstring("Extern"), QString("1"));
    resetinisection();

    openuserini();
    iniwritestring("LastInputStr", "  sist  ");
    QCOMPARE(inireadstring("LastInputStr"), QString("  sist  "));
    closeuserini();
    openuserini();
    QCOMPARE(inireadstring("LastInputStr"), QString("sist"));
    closeuserini();
}

void TestSettings::settingsFileInWorkingFolder()
{
    writeBytes(m_box->work() + "/kalvenor.ini", "[TFM]\r\n");
    hs_regInitialization({});
    const QString work = QFileInfo(m_box->work()).canonicalFilePath();
    QCOMPARE(ininame, work + "/kalvenor.ini");
    QCOMPARE(etcpath, work + "/");
    openuserini();
    closeuserini();
    QVERIFY(platform::fileExists(work + "/TESTER.INI"));
    QVERIFY(!platform::fileExists(etcFolder() + "TESTER.INI"));
}

void TestSettings::workingFolderFileOnlyWhenOwn_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("used");

    QTest::newRow("own file in own folder") << "own" << true;
    QTest::newRow("own link to own file") << "link" << true;
    QTest::newRow("link in a shared folder") << "link shared" << false;
    QTest::newRow("link of another user") << "link other" << false;
    QTest::newRow("link to another user's file") << "link target other" << false;
    QTest::newRow("link into a folder others may write to") << "link target open" << false;
    QTest::newRow("file of another user") << "file other" << false;
    QTest::newRow("folder others may write to") << "open" << false;
    QTest::newRow("folder its group may write to") << "group" << false;
    QTest::newRow("sticky shared folder") << "shared" << false;
    QTest::newRow("folder of another user") << "folder other" << false;
}

// A settings file that another user could have put or swapped there is neither read nor
// written: a planted link would have the settings replace whatever it points at.
void TestSettings::workingFolderFileOnlyWhenOwn()
{
    QFETCH(QString, kind);
    QFETCH(bool, used);
    constexpr uid_t nobody = 65534;
    const QString work = QFileInfo(m_box->work()).canonicalFilePath();
    const QString local = work + "/kalvenor.ini";
    const QString target = m_box->appdata() + "/target/kalvenor.ini";
    const QByteArray planted = "[TFM]\r\nProdukt=plantet\r\n";
    QVERIFY(QDir().mkpath(m_box->appdata() + "/target"));
    ::chmod(QFile::encodeName(m_box->appdata() + "/target"), kind.endsWith("open") ? 0777 : 0700);
    writeBytes(mainFile(), "[STANDARD]\r\nLogToFile=1\r\n");
    const bool link = kind.startsWith("link");
    if (link) {
        writeBytes(target, planted);
        QVERIFY(QFile::link(target, local));
    } else {
        writeBytes(local, planted);
    }
    const QByteArray w = QFile::encodeName(work);
    const mode_t mode = kind.endsWith("shared") ? 01777
                        : kind == "open"        ? 0777
                        : kind == "group"       ? 0770
                                                : 0700;
    QCOMPARE(::chmod(w, mode), 0);
    bool owned = true;
    if (kind == "link other") owned = ::lchown(QFile::encodeName(local), nobody, nobody) == 0;
    if (kind == "link target other")
        owned = ::chown(QFile::encodeName(target), nobody, nobody) == 0;
    if (kind == "file other") owned = ::chown(QFile::encodeName(local), nobody, nobody) == 0;
    if (kind == "folder other") owned = ::chown(w, nobody, nobody) == 0;
    if (!owned) QSKIP("giving a file to another user needs root");
    const QString written = link ? target : local;

    hs_regInitialization({});
    setinisection("TFM");
    QCOMPARE(inireadstring("Produkt"), used ? QString("plantet") : QString());
    iniwritestring("Produkt", "egen");
    resetinisection();
    QCOMPARE(ininame, used ? local : mainFile());
    hs_regFinalization();

    QCOMPARE(QFileInfo(local).isSymLink(), link);
    if (used) {
        QVERIFY(m_ui->messages.isEmpty());
        QCOMPARE(IniDocument(written).readString("TFM", "Produkt", ""), QString("egen"));
        return;
    }
    QCOMPARE(readBytes(written), planted);
    QVERIFY(!platform::fileExists(work + "/TESTER.INI"));
    QCOMPARE(IniDocument(mainFile()).readString("TFM", "Produkt", ""), QString("egen"));
    QCOMPARE(m_ui->messages.size(), 1);
    const QString text = m_ui->messages[0].text;
    QVERIFY2(text.startsWith("Innstillingsfilen " + local +
                             " i arbeidsmappen blir verken lest "
                             "eller lagret fordi ") &&
                 text.endsWith(" Programmet bruker innstillingene i " + mainFile() + '.'),
             qPrintable(text));
    QVERIFY2(logged("ADVARSEL: " + text), qPrintable(loglines.join('\n')));
}

void TestSettings::settingsFileIsItsOwnersAlone_data()
{
    QTest::addColumn<QString>("where"); // "none", "etc" or "work": where a kalvenor.ini lies
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::newRow("created by the first start") << "none" << 0 << 0600;
    QTest::newRow("the program's own, open to others") << "etc" << 0644 << 0600;
    QTest::newRow("in the working folder, open to others") << "work" << 0644 << 0644;
    QTest::newRow("in the working folder, for the group") << "work" << 0640 << 0640;
}

// The file holds the scrambled FTP password; one the user put in the working folder is theirs.
void TestSettings::settingsFileIsItsOwnersAlone()
{
    QFETCH(QString, where);
    QFETCH(int, before);
    QFETCH(int, after);
    const QString file = where == "work" ? m_box->work() + "/kalvenor.ini" : mainFile();
    if (where != "none") {
        writeBytes(file, "[TFM]\r\n");
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), mode_t(before)), 0);
    }
    const auto mode = [&file] {
        struct stat st {};
        return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    };
    hs_regInitialization({});
    QCOMPARE(mode(), after);
    setinisection("TFM");
    iniwritestring("Tekst", "ved slutt");
    resetinisection();
    hs_regFinalization();
    QCOMPARE(IniDocument(file).readString("TFM", "Tekst", ""), QString("ved slutt"));
    QCOMPARE(mode(), after);
}

void TestSettings::shutdownWritesAndLogs()
{
    hs_regInitialization({});
    logtofile = true; // the start-up leaves logging to "LogToFile"
    setinisection("TFM");
    iniwritestring("Tekst", "ved slutt");
    resetinisection();
    verbose = true;
    hs_regFinalization();
    QCOMPARE(IniDocument(mainFile()).readString("TFM", "Tekst", ""), QString("ved slutt"));
    // The shut-down summary follows it.
    QVERIFY(loglines.at(loglines.size() - 2).endsWith(" Oppdaterer " + mainFile()));
    QVERIFY(!logged("INI-CRASH"));
    QVERIFY(inifile == nullptr);
    QCOMPARE(ininame, QString("kalvenor.ini"));
}

void TestSettings::readOnlyFilesAreNeverReplaced()
{
    const QByteArray original = "[TFM]\r\nTekst=gammel\r\n";
    writeBytes(mainFile(), original);
    writeBytes(etcFolder() + "TESTER.INI", "[VINDU-X]\r\nLeft=5\r\n");
    QCOMPARE(platform::setReadOnly(mainFile(), true), 0);
    QCOMPARE(platform::setReadOnly(etcFolder() + "TESTER.INI", true), 0);
    verbose = true;
    QDir().mkpath(m_box->appdata() + "/Kalvenor/data"); // no tree, so no tree lines

    hs_regInitialization({});
    logtofile = true; // the start-up leaves logging to "LogToFile"
    passEveryWriteBackMoment();
    passEveryWriteBackMoment();

    const QString name = mainFile();
    hs_regFinalization();
    // A read-only file is one fact: no error for each write-back, one warning for each file,
    // the main file's at the shut-down, where the summary follows it.
    QVERIFY(loglines.at(loglines.size() - 2)
                .endsWith(" ADVARSEL: " + name + " er skrivebeskyttet og vil ikke bli lagret."));
    QVERIFY2(!logged("FEIL"), qPrintable(loglines.join(u'\n')));
    QCOMPARE(errorcount, 0);
    QVERIFY(loglines.last().endsWith(" AVSLUTTER PROGRAM. 0 feilmeldinger og 2 advarsler"));
    QVERIFY(logged(" ADVARSEL: " + etcFolder() + "TESTER.INI er skrivebeskyttet og vil ikke bli"));
    QVERIFY(!logged("INI-CRASH"));
    QCOMPARE(readBytes(name), original);
    QCOMPARE(readBytes(etcFolder() + "TESTER.INI"), QByteArray("[VINDU-X]\r\nLeft=5\r\n"));
}

// Each replace gives the file a new inode while the old one is still in use, so an unchanged
// inode means the file was not written.
static ino_t inode(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// The program must never turn a file it reads into one it refuses at the next start.
void TestSettings::writeBackTooLargeToReadKeepsTheFile()
{
    hs_regInitialization({});
    logtofile = true; // the start-up leaves logging to "LogToFile"
    const QByteArray before = readBytes(mainFile());
    setinisection("TFM");
    const QString mib(1 << 20, u'x');
    for (int i = 0; i < 64; ++i) iniwritestring("Verdi" + QString::number(i), mib);
    resetinisection();
    kalvenorpath("data\\tfm");
    openuserini();
    closeuserini();
    QCOMPARE(inifile->readString("TFM", "Verdi63", ""), mib);
    hs_regFinalization();

    QCOMPARE(readBytes(mainFile()), before);
    QCOMPARE(m_ui->messages.size(), 1);
    const QString text = m_ui->messages[0].text;
    QVERIFY2(text.startsWith("Innstillingsfilen " + mainFile() + " blir ikke lagret"),
             qPrintable(text));
    QCOMPARE(loglines.filter("FEIL: " + text).size(), 1);
    QVERIFY(!logged("INI-CRASH"));
}

void TestSettings::unchangedSettingsAreNotWrittenAgain()
{
    QDir().mkpath(m_box->appdata() + "/Kalvenor/data/tfm");
    const QString user = etcFolder() + "TESTER.INI";
    hs_regInitialization({});
    kalvenorpath("data\\tfm");
    openuserini();
    closeuserini();
    const ino_t mainBefore = inode(mainFile());
    const ino_t userBefore = inode(user);
    QVERIFY(mainBefore && userBefore);

    // Every write-back moment once more, with nothing changed.
    kalvenorpath("data\\tfm");
    openuserini();
    closeuserini();
    QCOMPARE(inode(user), userBefore);
    QCOMPARE(inode(mainFile()), mainBefore);

    // A change is written, through a replace as before.
    setinisection("TFM");
    iniwritestring("Tekst", "ny");
    resetinisection();
    openuserini();
    QVERIFY(inode(mainFile()) != mainBefore);
    QCOMPARE(IniDocument(mainFile()).readString("TFM", "Tekst", ""), QString("ny"));
    iniwritestring("LastInputStr", "x");
    closeuserini();
    QVERIFY(inode(user) != userBefore);

    // A file gone since is written again, though the document still holds the same.
    QVERIFY(QFile::remove(mainFile()));
    kalvenorpath("data\\tfm");
    QCOMPARE(IniDocument(mainFile()).readString("TFM", "Tekst", ""), QString("ny"));

    const ino_t mainAtEnd = inode(mainFile());
    hs_regFinalization();
    QCOMPARE(inode(mainFile()), mainAtEnd);
}

void TestSettings::unwritableFolderNeverStopsTheProgram()
{
    writeBytes(m_box->appdata() + "/Kalvenor", "a file where the folder should be");
    hs_regInitialization({});
    QCOMPARE(ininame, mainFile());
    QVERIFY(logged("FEIL: Kan ikke lagre innstillingsfilen " + mainFile()));
    logtofile = true; // the start-up leaves logging to "LogToFile"
    passEveryWriteBackMoment();
    hs_regFinalization();
    QVERIFY(loglines.last().endsWith(" INI-CRASH i HS_REG.PAS: " + mainFile()));
}

void TestSettings::failedShutdownWriteIsOneLine()
{
    QDir().mkpath(m_box->appdata() + "/Kalvenor/data"); // no tree, so no tree lines
    hs_regInitialization({});
    logtofile = verbose = true;
    const QString name = mainFile();
    // The folder turns into a file after the start-up, so only the last write fails.
    QVERIFY(QDir(etcFolder()).removeRecursively());
    writeBytes(etcFolder().chopped(1), "not a folder");
    loglines.clear();
    QCOMPARE(errorcount, 0);

    hs_regFinalization();

    QCOMPARE(loglines.size(), 3);
    QVERIFY2(loglines[0].endsWith(" INI-CRASH i HS_REG.PAS: " + name), qPrintable(loglines[0]));
    QVERIFY2(loglines[1].endsWith(" Oppdaterer " + name), qPrintable(loglines[1]));
    QVERIFY2(loglines[2].endsWith(" AVSLUTTER PROGRAM. 0 feilmeldinger og 0 advarsler"),
             qPrintable(loglines[2]));
}

void TestSettings::failureLineNamesTheFile_data()
{
    QTest::addColumn<QString>("folder"); // in the working folder, holding the settings file

    QTest::newRow("plain") << "innstillinger";
    QTest::newRow("holding %2") << "a%2b";
    QTest::newRow("holding %1 and %2") << "%1 og %2";
}

void TestSettings::failureLineNamesTheFile()
{
    QFETCH(QString, folder);
    const QString work = m_box->work() + u'/' + folder;
    writeBytes(work + "/kalvenor.ini", "[TFM]\r\n");
    QDir::setCurrent(work); // the sandbox puts the old working folder back
    QDir().mkpath(m_box->appdata() + "/Kalvenor/data");
    hs_regInitialization({});
    QVERIFY(ininame.endsWith(u'/' + folder + "/kalvenor.ini"));
    logtofile = true; // the start-up leaves logging to "LogToFile"
    loglines.clear();
    // The folder becomes a file, so no write-back can land there.
    QDir::setCurrent(m_box->work());
    QVERIFY(QDir(work).removeRecursively());
    writeBytes(work, "not a folder");
    kalvenorpath("data"); // made above, so the write-back gives the one line
    QCOMPARE(loglines.size(), 1);
    QVERIFY2(
        loglines[0].contains(" FEIL: Kan ikke lagre innstillingsfilen " + ininame + " (feilnr. "),
        qPrintable(loglines[0]));
}

void TestSettings::fullDiskLeavesTheFileAsItWas()
{
    // The settings file in a folder that takes no new file, on a disk with no byte to spare: the
    // write-backs cannot go through a temporary, and the grown settings do not fit in place.
    const QString folder = m_box->work() + "/disk";
    SmallDisk disk(folder, 3);
    if (!disk.mounted()) QSKIP("a small file system cannot be mounted here");
    const QByteArray before =
        "[STANDARD]\r\nLogToFile=1\r\n[TFM]\r\nTekst=" + QByteArray(3900, 'x') + "\r\n";
    writeBytes(folder + "/kalvenor.ini", before);
    QVERIFY(disk.fill("filler"));
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    QDir::setCurrent(folder);
    QDir().mkpath(m_box->appdata() + "/Kalvenor/data");

    hs_regInitialization({});
    QCOMPARE(ininame, folder + "/kalvenor.ini");
    for (int i = 0; i < 2; ++i) {
        openuserini();
        closeuserini();
        kalvenorpath("data\\tfm");
    }
    setinisection("TFM");
    QCOMPARE(inireadstring("Tekst"), QString(3900, u'x'));
    resetinisection();
    // One line for each file, however often it failed.
    QCOMPARE(loglines.filter("FEIL: Kan ikke lagre innstillingsfilen " + ininame + " (feilnr. 112)")
                 .size(),
             1);
    QCOMPARE(loglines.filter("FEIL: Kan ikke lagre innstillingsfilen ").size(), 2);
    hs_regFinalization();

    QVERIFY(logged("INI-CRASH i HS_REG.PAS: " + folder + "/kalvenor.ini"));
    QCOMPARE(readBytes(folder + "/kalvenor.ini"), before);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"filler", "kalvenor.ini"}));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
