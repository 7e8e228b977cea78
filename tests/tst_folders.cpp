// Tests of the program folders: the tree of a first run, lookups with their records and
// creation rules, single-folder creation, the log and program folders.
#include "hs_reg.h"
#include "inifile.h"
#include "platform.h"
#include "testsupport.h"
#include "textfil.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <memory>

#include <sys/stat.h>

class TestFolders : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void firstRunRecordsTwentySixFolders();
    void treeOverAnExistingTree();
    void lookup_data();
    void lookup();
    void emptyNameTouchesNothing();
    void binFindsTheProgramFolder();
    void mkdirsafe_data();
    void mkdirsafe();
    void logpathFallsBackToTheBase();
    void ownerOnlyFolders_data();
    void ownerOnlyFolders();

  private:
    QString base() const { return m_box->appdata() + "/Kalvenor/"; }
    QString record(const QString &name) const
    {
        return IniDocument(ininame).readString("FOLDERS", name + "_folder", "<none>");
    }
    // A start that builds no tree, on a machine that has only the folders it needs to start.
    void startWithoutTree()
    {
        QDir().mkpath(base() + "data");
        hs_regInitialization({});
        // The start made what the tree lacked; the lookups under test make it themselves.
        for (const QString top :
             {"archive", "backup", "export", "import", "images", "spool", "tmp", "xml", "maler",
              "data/quarvel", "data/dobrin", "data/zq4", "data/docs", "data/tfm"})
            QDir(base() + top).removeRecursively();
        logtofile = true; // the start-up leaves logging to "LogToFile"
    }

    std::unique_ptr<Sandbox> m_box;
};

static const QStringList treeNames{
    "archive",     "backup",      "data",        "data\\quarvel", "data\\dobrin",
    "data\\zq4",   "data\\docs",  "data\\tfm",   "etc",           "export",
    "export\\xml", "export\\pdf", "export\\csv", "export\\html",  "export\\html\\varer",
    "import",      "images",      "spool",       "tmp",           "xml",
    "log",         "maler",       "maler\\docs", "maler\\zq4"};

void TestFolders::init()
{
    m_box = std::make_unique<Sandbox>();
    textfilInitialization();
    logtofile = true;
}

void TestFolders::cleanup()
{
    hs_regFinalization();
    loglines.clear();
    logtofile = verbose = false;
    m_box.reset();
}

void TestFolders::firstRunRecordsTwentySixFolders()
{
    const QString bin = QFileInfo(platform::programFilePath()).absolutePath() + "/";
    const QString doc = QDir::cleanPath(bin + "../doc") + "/";
    const bool docBefore = platform::dirExists(doc);
    hs_regInitialization({});
    QStringList expected{"etc_folder=" + base() + "etc/", "bin_folder=" + bin, "doc_folder=" + doc};
    // The start-up made the settings folder "etc" already, so only its row fails.
    QStringList treeLines;
    for (const QString &name : treeNames) {
        const QString folder = base() + platform::nativeName(name);
        QVERIFY2(platform::dirExists(folder), qPrintable(name));
        if (name != "etc") expected << name + "_folder=" + folder + "/";
        treeLines << (name == "etc" ? "FEIL: [mkdirsafe:183] kan ikke opprette mappen "
                                    : "Oppretter mappen ") +
                         folder;
    }
    QCOMPARE(IniDocument(ininame).sectionLines("FOLDERS"), expected);
    QCOMPARE(inisection, QString("STANDARD"));

    // Recorded, not made: "bin" and "doc" neither beside the program nor in the base.
    QVERIFY(!platform::dirExists(base() + "bin"));
    QVERIFY(!platform::dirExists(base() + "doc"));
    if (!docBefore) QVERIFY(!platform::dirExists(doc));
    // The tree's lines, and nothing else, while the test kept logging on.
    QCOMPARE(loglines.size(), treeLines.size());
    for (int i = 0; i < treeLines.size(); ++i)
        QVERIFY2(loglines[i].endsWith(" " + treeLines[i]), qPrintable(loglines[i]));
}

void TestFolders::treeOverAnExistingTree()
{
    hs_regInitialization({});
    logtofile = true; // the start-up leaves logging to "LogToFile"
    const QStringList before = inifile->sectionLines("FOLDERS");
    loglines.clear();
    setinisection("TFM");
    makefoldertree();
    QCOMPARE(inisection, QString("TFM"));
    QCOMPARE(loglines.size(), 24); // one failure per row, nothing else
    for (int i = 0; i < treeNames.size(); ++i)
        QVERIFY(loglines[i].endsWith(" FEIL: [mkdirsafe:183] kan ikke opprette mappen " + base() +
                                     platform::nativeName(treeNames[i])));
    QCOMPARE(inifile->sectionLines("FOLDERS"), before);
}

void TestFolders::lookup_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("recorded"); // written raw into "FOLDERS" first; empty for none
    QTest::addColumn<QString>("result");   // "@" stands for the base folder, "~" for elsewhere
    QTest::addColumn<bool>("created");

    QTest::newRow("default inside the base") << "data\\tfm"
                                             << ""
                                             << "@data/tfm/" << true;
    QTest::newRow("nested with its parents") << "export\\html\\varer"
                                             << ""
                                             << "@export/html/varer/" << true;
    QTest::newRow("record without separator") << "x"
                                              << "@x"
                                              << "@x/" << true;
    QTest::newRow("record outside the base") << "ut"
                                             << "~/ute/ut"
                                             << "~/ute/ut/" << false;
    QTest::newRow("bin is never created") << "bin"
                                          << ""
                                          << "@bin/" << false;
    QTest::newRow("BIN is an ordinary name") << "BIN"
                                             << ""
                                             << "@BIN/" << true;
    QTest::newRow("base in other letter case") << "y"
                                               << "@@y"
                                               << "@@y/" << false;
}

void TestFolders::lookup()
{
    QFETCH(QString, name);
    QFETCH(QString, recorded);
    QFETCH(QString, result);
    QFETCH(bool, created);
    const auto expand = [this](QString text) {
        text.replace("@@", base().toUpper());
        text.replace("@", base());
        text.replace("~", m_box->work());
        return text;
    };
    startWithoutTree();
    if (!recorded.isEmpty()) inifile->writeString("FOLDERS", name + "_folder", expand(recorded));
    loglines.clear();
    setinisection("TFM");

    QString path;
    kalvenorpath(name, path);
    QCOMPARE(path, expand(result));
    QCOMPARE(inisection, QString("TFM"));
    QCOMPARE(platform::dirExists(path), created);
    QCOMPARE(record(name), path); // recorded and on disk
    if (created) {
        QCOMPARE(loglines.size(), 1);
        QVERIFY(loglines[0].endsWith(" hs_reg.kalvenorpath(" + name + "): Lager mappen " +
                                     (recorded.isEmpty() ? path : expand(recorded))));
    } else {
        QVERIFY(loglines.isEmpty());
    }
}

void TestFolders::emptyNameTouchesNothing()
{
    startWithoutTree();
    const QByteArray before = readBytes(ininame);
    const QStringList records = inifile->sectionLines("FOLDERS");
    QCOMPARE(kalvenorpath(""), base());
    QCOMPARE(readBytes(ininame), before);
    QCOMPARE(inifile->sectionLines("FOLDERS"), records);
}

void TestFolders::binFindsTheProgramFolder()
{
    startWithoutTree();
    setinisection("TFM");
    QString bin;
    binpath(bin);
    QCOMPARE(inisection, QString("TFM"));
    QCOMPARE(bin, QFileInfo(platform::programFilePath()).absolutePath() + "/");
    QVERIFY(!bin.endsWith("//"));
    QCOMPARE(record("bin"), bin);
    // Records are found in any letter case; only the creation rule looks at the exact name.
    QCOMPARE(kalvenorpath("BIN"), bin);
}

void TestFolders::mkdirsafe_data()
{
    QTest::addColumn<QString>("path"); // under the working folder, which holds a file "plain"
    QTest::addColumn<QString>("line");

    QTest::newRow("new") << "/ny"
                         << "Oppretter mappen ";
    QTest::newRow("exists") << ""
                            << "FEIL: [mkdirsafe:183] kan ikke opprette mappen ";
    QTest::newRow("parent missing") << "/a/b"
                                    << "FEIL: [mkdirsafe:3] kan ikke opprette mappen ";
    QTest::newRow("parent is a file") << "/plain/b"
                                      << "FEIL: [mkdirsafe:3] kan ikke opprette mappen ";
}

void TestFolders::mkdirsafe()
{
    QFETCH(QString, path);
    QFETCH(QString, line);
    writeBytes(m_box->work() + "/plain", "x");
    const QString folder = m_box->work() + path;
    ::mkdirsafe(folder);
    QCOMPARE(loglines.size(), 1);
    QVERIFY2(loglines[0].endsWith(" " + line + folder), qPrintable(loglines[0]));
}

void TestFolders::logpathFallsBackToTheBase()
{
    startWithoutTree();
    QDir(base() + "log").removeRecursively();
    setfolder("log", m_box->work() + "/elsewhere/log");
    QString log;
    logpath(log);
    QCOMPARE(log, base() + "log/");
    QVERIFY(platform::dirExists(log));
    QVERIFY(!platform::dirExists(m_box->work() + "/elsewhere"));
    QCOMPARE(record("log"), log);
}

static mode_t folderMode(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void TestFolders::ownerOnlyFolders_data()
{
    QTest::addColumn<QString>("existing"); // a folder there, 0755, before the start
    QTest::addColumn<bool>("laterLookup"); // the tree exists; "log" is made by its lookup

    QTest::newRow("first start") << "" << false;
    QTest::newRow("etc there already") << "etc" << false;
    QTest::newRow("log there already") << "log" << false;
    QTest::newRow("log made by a lookup") << "" << true;
}

// The settings file and the log are readable by their user alone, whatever the umask lets
// through, on a machine whose home folders others can enter.
void TestFolders::ownerOnlyFolders()
{
    QFETCH(QString, existing);
    QFETCH(bool, laterLookup);
    const mode_t mask = ::umask(022);
    if (!existing.isEmpty()) {
        QVERIFY(QDir().mkpath(base() + existing));
        QVERIFY(QFile::setPermissions(base() + existing, QFileDevice::Permissions(0x7755)));
    }
    if (laterLookup) {
        startWithoutTree();
        kalvenorpath("log");
    } else {
        hs_regInitialization({});
    }
    ::umask(mask);
    for (const QString name : {"etc", "log"})
        QCOMPARE(folderMode(base() + name), mode_t(name == existing ? 0755 : 0700));
    QCOMPARE(folderMode(base()), mode_t(0755));
    if (!laterLookup) QCOMPARE(folderMode(base() + "data"), mode_t(0755));
}

QTEST_GUILESS_MAIN(TestFolders)
#include "tst_folders.moc"
