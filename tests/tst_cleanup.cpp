// Tests of the temporary-file cleanup: the guards, depth-first deletion with the root kept,
// files that stay, links that must not be followed, and the system folders' environment.
#include "Felles.h"
#include "cleanup.h"
#include "hs_reg.h"
#include "platform.h"
#include "registry.h"
#include "startup.h"
#include "testsupport.h"
#include "textfil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Sets or unsets one environment variable for a test and puts the old value back.
class EnvGuard {
  public:
    EnvGuard(const char *name, std::optional<QString> value)
        : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
    {
        if (value)
            qputenv(name, QFile::encodeName(*value));
        else
            qunsetenv(name);
    }
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

  private:
    const char *m_name;
    QByteArray m_old;
    bool m_had;
};

void touch(const QString &path) { writeBytes(path, "x"); }

bool exists(const QString &path) { return QFileInfo::exists(path) || QFileInfo(path).isSymLink(); }

// The log's messages without their time stamps.
QStringList messages()
{
    const QString stamp = datetimetext() + u' ';
    QStringList out;
    for (const QString &line : loglines)
        out.append(line.startsWith(stamp) ? line.mid(stamp.size()) : line);
    return out;
}

// Relative to the sandbox's working folder, so no part of the path that a guard looks at comes
// from where the build or the system's temporary folder happens to lie.
const QString Plain = QStringLiteral("plain-folder/");

QString baseFolderPath() { return kalvenorpath(QString()); }

bool isEmptyDir(const QString &path)
{
    return QDir(path)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
        .isEmpty();
}

} // namespace

class TestCleanup : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void emptiesDepthFirstAndKeepsRoot();
    void deletesReadOnlyAndHiddenFilesQuietly();
    void fileInUseStaysAndItsFolderFails();
    void nameThatIsNoTextIsDeleted();
    void linksAreRemovedNotFollowed();
    void hardLinkLeavesItsFileAsItWas_data();
    void hardLinkLeavesItsFileAsItWas();
    void rootThatIsALinkIsEmptiedAndKept();
    void folderSwappedForALinkIsNotFollowed();
    void rootIsOpenedAlongNoLink_data();
    void rootIsOpenedAlongNoLink();
    void folderSwappedAfterItsListingIsNotFollowed_data();
    void folderSwappedAfterItsListingIsNotFollowed();
    void deepTree_data();
    void deepTree();
    void lengthAndExistenceGuard_data();
    void lengthAndExistenceGuard();

    void ownTmpFolderNeedsTheWord_data();
    void ownTmpFolderNeedsTheWord();
    void unsoundTmpRecordDeletesNothing_data();
    void unsoundTmpRecordDeletesNothing();
    void systemFolders_data();
    void systemFolders();
    void unsoundSystemFoldersDeleteNothing_data();
    void unsoundSystemFoldersDeleteNothing();

  private:
    std::optional<Sandbox> m_sandbox;
    std::optional<RecordingUi> m_ui;
    QString root() const { return m_sandbox->work() + QStringLiteral("/clean-root/"); }
    // The base start-up, shut down again in cleanup() even where a check failed on the way.
    void start();
    bool m_started = false;
    // Environment a row changes for the whole run, put back after the shut-down.
    std::optional<EnvGuard> m_home;
    std::optional<EnvGuard> m_appdata;
};

void TestCleanup::initTestCase()
{
    pinNorwegianLocale();
    platform::setClock([] { return QDateTime(QDate(2024, 3, 5), QTime(8, 9, 10)); });
}

void TestCleanup::init()
{
    // A row that failed half-way must still have shut the base down, or this one would run on
    // its store.
    QVERIFY2(!inifile, "the settings store is still open from an earlier row");
    m_sandbox.emplace();
    m_ui.emplace();
    textfilInitialization();
    logtofile = true;
}

void TestCleanup::cleanup()
{
    if (m_started) baseshutdown();
    m_started = false;
    setFolderListedHook({});
    m_home.reset();
    m_appdata.reset();
    m_ui.reset();
    m_sandbox.reset();
    textfilInitialization();
}

void TestCleanup::start()
{
    basestartup({QStringLiteral("prog")});
    m_started = true;
    logtofile = true;
}

void TestCleanup::emptiesDepthFirstAndKeepsRoot()
{
    const QString r = root();
    touch(r + QStringLiteral("a/b/f.txt"));
    verbose = true;

    cleanfolder(r.chopped(1)); // the separator is added

    QVERIFY(platform::dirExists(r));
    QVERIFY(isEmptyDir(r));
    QCOMPARE(messages(),
             QStringList({QStringLiteral("Sletter mappen ") + r,
                          QStringLiteral("Sletter mappen ") + r + QStringLiteral("a/"),
                          QStringLiteral("Sletter mappen ") + r + QStringLiteral("a/b/"),
                          QStringLiteral("Sletter ") + r + QStringLiteral("a/b/f.txt")}));
    // Set at each level's start, normal again at its end.
    QCOMPARE(m_ui->cursor, QList<bool>({true, true, true, false, false, false}));
    QVERIFY(m_ui->messages.isEmpty());
}

void TestCleanup::deletesReadOnlyAndHiddenFilesQuietly()
{
    const QString r = root();
    touch(r + QStringLiteral("ro.txt"));
    touch(r + QStringLiteral(".hidden"));
    touch(r + QStringLiteral("sub/.deep/ro2.txt"));
    QCOMPARE(platform::setReadOnly(r + QStringLiteral("ro.txt"), true), 0);
    QCOMPARE(platform::setReadOnly(r + QStringLiteral("sub/.deep/ro2.txt"), true), 0);

    cleanfolder(r);

    QVERIFY(platform::dirExists(r));
    QVERIFY(isEmptyDir(r));
    QVERIFY(loglines.isEmpty()); // success is logged only with verbose logging
    QCOMPARE(errorcount, 0);
}

void TestCleanup::fileInUseStaysAndItsFolderFails()
{
    const QString r = root();
    const QString busy = r + QStringLiteral("a/busy.txt");
    touch(busy);
    touch(r + QStringLiteral("a/other.txt"));
    touch(r + QStringLiteral("z/later.txt"));
    touch(r + QStringLiteral("top.txt"));
    platform::FileHandle held = platform::NoFile;
    QCOMPARE(platform::openFile(busy, platform::OpenMode::Read, held), 0);

    cleanfolder(r);
    platform::closeFile(held);

    QVERIFY(platform::fileExists(busy));
    QVERIFY(!exists(r + QStringLiteral("a/other.txt")));
    QVERIFY(!exists(r + QStringLiteral("z")));
    QVERIFY(!exists(r + QStringLiteral("top.txt")));
    QCOMPARE(messages(), QStringList({QStringLiteral("FEIL: kan ikke slette filen ") + busy,
                                      QStringLiteral("FEIL: kan ikke slette mappen ") + r +
                                          QStringLiteral("a/")}));
    QCOMPARE(errorcount, 2);
}

void TestCleanup::nameThatIsNoTextIsDeleted()
{
    // Names the file system holds as bytes that no text decodes to.
    const QByteArray r = QFile::encodeName(root());
    QDir().mkpath(root());
    QCOMPARE(::mkdir((r + "sub\xff").constData(), 0700), 0);
    for (const QByteArray &file : {r + "f\xfe.txt", r + "sub\xff/g\xfd.txt"}) {
        const int fd = ::open(file.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0);
        ::close(fd);
    }

    cleanfolder(root());

    QVERIFY(isEmptyDir(root()));
    QCOMPARE(errorcount, 0);
}

void TestCleanup::linksAreRemovedNotFollowed()
{
    const QString r = root();
    const QString outside = m_sandbox->work() + QStringLiteral("/outside/");
    touch(outside + QStringLiteral("keep.txt"));
    touch(outside + QStringLiteral("sub/deep.txt"));
    touch(outside + QStringLiteral("ro.txt"));
    QCOMPARE(platform::setReadOnly(outside + QStringLiteral("ro.txt"), true), 0);
    QDir().mkpath(r + QStringLiteral("a"));
    QVERIFY(QFile::link(outside, r + QStringLiteral("dirlink")));
    QVERIFY(QFile::link(outside, r + QStringLiteral("a/nested-dirlink")));
    QVERIFY(QFile::link(outside + QStringLiteral("ro.txt"), r + QStringLiteral("filelink")));
    QVERIFY(QFile::link(outside + QStringLiteral("gone"), r + QStringLiteral("dangling")));
    verbose = true;

    cleanfolder(r);

    QVERIFY(isEmptyDir(r));
    QVERIFY(platform::fileExists(outside + QStringLiteral("keep.txt")));
    QVERIFY(platform::fileExists(outside + QStringLiteral("sub/deep.txt")));
    QVERIFY(platform::fileExists(outside + QStringLiteral("ro.txt")));
    QVERIFY(platform::isReadOnly(outside + QStringLiteral("ro.txt"))); // not even its mark changed
    const QStringList logged = messages();
    QVERIFY(logged.contains(QStringLiteral("Sletter ") + r + QStringLiteral("dirlink")));
    for (const QString &line : logged) QVERIFY2(!line.contains(outside), qPrintable(line));
    QCOMPARE(errorcount, 0);
}

void TestCleanup::hardLinkLeavesItsFileAsItWas_data()
{
    QTest::addColumn<int>("mode"); // of the file outside the folder
    QTest::newRow("read-only") << 0444;
    QTest::newRow("read-only, owner only") << 0400;
    QTest::newRow("writable") << 0640;
}

void TestCleanup::hardLinkLeavesItsFileAsItWas()
{
    QFETCH(int, mode);
    const QString r = root();
    const QString outside = m_sandbox->work() + QStringLiteral("/outside.txt");
    writeBytes(outside, "kept\r\n");
    QDir().mkpath(r + QStringLiteral("sub"));
    QCOMPARE(::link(QFile::encodeName(outside).constData(),
                    QFile::encodeName(r + QStringLiteral("sub/hard.txt")).constData()),
             0);
    QCOMPARE(::chmod(QFile::encodeName(outside).constData(), mode_t(mode)), 0);

    cleanfolder(r);

    QVERIFY(isEmptyDir(r));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(outside).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), mode);
    QCOMPARE(int(st.st_nlink), 1);
    QCOMPARE(readBytes(outside), QByteArray("kept\r\n"));
    QCOMPARE(errorcount, 0);
}

void TestCleanup::rootThatIsALinkIsEmptiedAndKept()
{
    const QString target = m_sandbox->work() + QStringLiteral("/target/");
    touch(target + QStringLiteral("sub/f.txt"));
    const QString link = m_sandbox->work() + QStringLiteral("/rootlink");
    QVERIFY(QFile::link(target, link));

    cleanfolder(link);

    QVERIFY(platform::isLink(link));
    QVERIFY(platform::dirExists(target));
    QVERIFY(isEmptyDir(target));
    QCOMPARE(errorcount, 0);
}

namespace {

// At the end of the first subfolder's level, swaps every subfolder of the root not yet reached
// for a link to the outside folder, as another process could while the cleanup runs.
class SwappingUi final : public platform::UserInterface {
  public:
    SwappingUi(QString root, QString outside)
        : m_root(std::move(root)), m_outside(std::move(outside))
    {
        platform::setUserInterface(this);
    }
    ~SwappingUi() override { platform::setUserInterface(nullptr); }
    void message(const QString &, const QString &, platform::Icon) override {}
    void setBusyCursor(bool busy) override
    {
        if (busy || swapped.size() > 0) return;
        for (const QString &name : {QStringLiteral("one"), QStringLiteral("two")}) {
            const QString path = m_root + name;
            if (!platform::dirExists(path) || platform::isLink(path)) continue;
            QDir(path).removeRecursively();
            if (QFile::link(m_outside, path)) swapped.append(name);
        }
    }
    void shellOpen(const QString &, const QString &, const QString &) override {}

    QStringList swapped;

  private:
    QString m_root;
    QString m_outside;
};

} // namespace

void TestCleanup::folderSwappedForALinkIsNotFollowed()
{
    const QString r = root();
    const QString outside = m_sandbox->work() + QStringLiteral("/outside/");
    touch(outside + QStringLiteral("keep.txt"));
    touch(r + QStringLiteral("one/f.txt"));
    touch(r + QStringLiteral("two/f.txt"));
    {
        SwappingUi swapping(r, outside);

        cleanfolder(r);

        QCOMPARE(swapping.swapped.size(), 1); // the one listed as a folder, then not reached
        QVERIFY(platform::fileExists(outside + QStringLiteral("keep.txt")));
        const QString link = r + swapping.swapped.first();
        QVERIFY(platform::isLink(link));
        QCOMPARE(messages(),
                 QStringList{QStringLiteral("FEIL: kan ikke slette mappen ") + link + u'/'});
    }
    platform::setUserInterface(&*m_ui);
}

void TestCleanup::rootIsOpenedAlongNoLink_data()
{
    // Below the working folder, which holds "real/sub/" and "link", a link to "real".
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("error");
    QTest::newRow("no link") << "real/sub" << 0;
    QTest::newRow("a link last") << "link" << 5;
    QTest::newRow("a link on the way") << "link/sub" << 5;
    QTest::newRow("a climb") << "real/sub/.." << 5;
    QTest::newRow("a file") << "real/file.txt" << 5;
}

void TestCleanup::rootIsOpenedAlongNoLink()
{
    QFETCH(QString, path);
    QFETCH(int, error);
    const QString work = platform::resolvedPath(m_sandbox->work()) + u'/';
    touch(work + QStringLiteral("real/sub/f.txt"));
    touch(work + QStringLiteral("real/file.txt"));
    QVERIFY(QFile::link(work + QStringLiteral("real"), work + QStringLiteral("link")));

    platform::FolderHandle handle = platform::NoFolder;
    QCOMPARE(platform::openFolder(work + path, handle), error);
    QCOMPARE(handle == platform::NoFolder, error != 0);
    platform::closeFolder(handle);
}

void TestCleanup::folderSwappedAfterItsListingIsNotFollowed_data()
{
    QTest::addColumn<QString>("swapped"); // below the root, ending in "/"; empty: the root
    QTest::newRow("the root") << "";
    QTest::newRow("a subfolder") << "a/";
    QTest::newRow("a subfolder's subfolder") << "a/b/";
}

void TestCleanup::folderSwappedAfterItsListingIsNotFollowed()
{
    QFETCH(QString, swapped);
    const QString r = root();
    const QString outside = m_sandbox->work() + QStringLiteral("/outside/");
    const QStringList files{QStringLiteral("f.txt"), QStringLiteral("a/f.txt"),
                            QStringLiteral("a/b/f.txt")};
    for (const QString &file : files) {
        touch(r + file);
        touch(outside + file);
    }
    const QString target = r + swapped;
    bool done = false;
    // Another process moves the folder away once it is listed and puts a link in its place.
    setFolderListedHook([&](const QString &folder) {
        if (done || folder != target) return;
        done = QDir().rename(target, m_sandbox->work() + QStringLiteral("/moved")) &&
               QFile::link(outside + swapped, target.chopped(1));
    });

    cleanfolder(r);

    QVERIFY(done);
    for (const QString &file : files)
        QVERIFY2(platform::fileExists(outside + file), qPrintable(file));
}

void TestCleanup::deepTree_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("emptied");
    QTest::newRow("200 levels") << 200 << true;
    QTest::newRow("300 levels, past what the walk goes down") << 300 << false;
}

void TestCleanup::deepTree()
{
    QFETCH(int, depth);
    QFETCH(bool, emptied);
    const QString r = root();
    const QString deepest = r + QStringLiteral("d/").repeated(depth);
    touch(deepest + QStringLiteral("f.txt"));

    cleanfolder(r);

    QVERIFY(platform::dirExists(r));
    QCOMPARE(isEmptyDir(r), emptied);
    QCOMPARE(platform::fileExists(deepest + QStringLiteral("f.txt")), !emptied);
    if (!emptied)
        QVERIFY(messages().contains(QStringLiteral("FEIL: kan ikke slette mappen ") + r +
                                    QStringLiteral("d/").repeated(257)));
}

void TestCleanup::lengthAndExistenceGuard_data()
{
    QTest::addColumn<QString>("create"); // folder made in the working folder, holding a file
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("emptied");

    // Relative paths keep the boundary at 6 characters (with the separator) safe to test.
    QTest::newRow("6 characters") << "abcde"
                                  << "abcde" << false;
    QTest::newRow("7 characters") << "abcdef"
                                  << "abcdef" << true;
    QTest::newRow("7 with separator given") << "abcdef"
                                            << "abcdef/" << true;
    QTest::newRow("3 characters") << "ab"
                                  << "ab/" << false;
    QTest::newRow("missing folder") << "abcdef"
                                    << "abcdefgh" << false;
    QTest::newRow("empty path") << "abcdef"
                                << "" << false;
    QTest::newRow("a file, not a folder") << "abcdef"
                                          << "abcdef/file.txt" << false;
}

void TestCleanup::lengthAndExistenceGuard()
{
    QFETCH(QString, create);
    QFETCH(QString, argument);
    QFETCH(bool, emptied);
    touch(create + QStringLiteral("/file.txt"));
    verbose = true;

    cleanfolder(argument);

    QCOMPARE(platform::fileExists(create + QStringLiteral("/file.txt")), !emptied);
    QVERIFY(platform::dirExists(create));
    if (!emptied) {
        QVERIFY(loglines.isEmpty());
        QVERIFY(m_ui->cursor.isEmpty());
    }
}

void TestCleanup::ownTmpFolderNeedsTheWord_data()
{
    QTest::addColumn<QString>("folder"); // below a folder without the words; empty: the default
    QTest::addColumn<bool>("emptied");

    QTest::newRow("default tmp folder") << QString() << true;
    QTest::newRow("record without the word") << "scratch" << false;
    QTest::newRow("record with the word") << "MyTmp" << true;
    QTest::newRow("the word in lower case") << "work.tmp.d" << true;
}

void TestCleanup::ownTmpFolderNeedsTheWord()
{
    QFETCH(QString, folder);
    QFETCH(bool, emptied);
    start();
    QString target = kalvenorpath(QStringLiteral("tmp"));
    if (!folder.isEmpty()) {
        target = Plain + folder + u'/';
        setfolder(QStringLiteral("tmp"), target);
    }
    touch(target + QStringLiteral("sub/f.txt"));
    loglines.clear();

    deletetempfiles(false);

    QCOMPARE(platform::fileExists(target + QStringLiteral("sub/f.txt")), !emptied);
    QVERIFY(platform::dirExists(target));
    QCOMPARE(messages(), QStringList({QStringLiteral(
                             "Sletter midlertidige filer opprettet av Kalvenor programmer")}));
}

void TestCleanup::unsoundTmpRecordDeletesNothing_data()
{
    // In each: "<base>" is the base folder with its separator, "<work>" the working folder.
    QTest::addColumn<QString>("record");  // the "tmp" record
    QTest::addColumn<QString>("make");    // what it names: "folder", "file", or a link's target
    QTest::addColumn<QString>("home");    // empty: as it is
    QTest::addColumn<QString>("other");   // another folder record; empty: none
    QTest::addColumn<QString>("appdata"); // empty: the sandbox's
    QTest::addColumn<bool>("emptied");

    QTest::newRow("named for temporary files") << "<work>/TMP-ok/"
                                               << "folder"
                                               << ""
                                               << ""
                                               << "" << true;
    QTest::newRow("tmp/../") << "<base>tmp/../"
                             << "folder"
                             << ""
                             << ""
                             << "" << false;
    QTest::newRow("relative, tmp/../") << "plain-folder/tmp/../"
                                       << "folder"
                                       << ""
                                       << ""
                                       << "" << false;
    QTest::newRow("the base folder") << "<base>"
                                     << "folder"
                                     << ""
                                     << ""
                                     << "" << false;
    QTest::newRow("holds the base folder") << "<work>/appTMP/"
                                           << "folder"
                                           << ""
                                           << ""
                                           << "<work>/appTMP" << false;
    QTest::newRow("etc") << "<base>etc/"
                         << "folder"
                         << ""
                         << ""
                         << "" << false;
    QTest::newRow("under /tmp/, named otherwise") << "<work>/scratch/"
                                                  << "folder"
                                                  << ""
                                                  << ""
                                                  << "" << false;
    QTest::newRow("the home") << "<work>/home/"
                              << "folder"
                              << "<work>/home"
                              << ""
                              << "" << false;
    QTest::newRow("the home, named TMP") << "<work>/TMP/"
                                         << "folder"
                                         << "<work>/TMP"
                                         << ""
                                         << "" << false;
    QTest::newRow("holds the home") << "<work>/TMP-homes/"
                                    << "folder"
                                    << "<work>/TMP-homes/user"
                                    << ""
                                    << "" << false;
    QTest::newRow("another recorded folder") << "<work>/TMP-export/"
                                             << "folder"
                                             << ""
                                             << "<work>/TMP-export/"
                                             << "" << false;
    QTest::newRow("holds another recorded folder") << "<work>/TMP-all/"
                                                   << "folder"
                                                   << ""
                                                   << "<work>/TMP-all/import/"
                                                   << "" << false;
    QTest::newRow("a link named TMP to etc") << "<work>/TMP-link/"
                                             << "<base>etc"
                                             << ""
                                             << ""
                                             << "" << false;
    QTest::newRow("a link named TMP to the home") << "<work>/TMP-link/"
                                                  << "<work>/home"
                                                  << "<work>/home"
                                                  << ""
                                                  << "" << false;
    QTest::newRow("a file named TMP") << "<work>/TMP.txt"
                                      << "file"
                                      << ""
                                      << ""
                                      << "" << false;
}

void TestCleanup::unsoundTmpRecordDeletesNothing()
{
    QFETCH(QString, record);
    QFETCH(QString, make);
    QFETCH(QString, home);
    QFETCH(QString, other);
    QFETCH(QString, appdata);
    QFETCH(bool, emptied);
    const QString work = m_sandbox->work();
    const auto expand = [&](QString text) {
        return text.replace(QStringLiteral("<work>"), work)
            .replace(QStringLiteral("<base>"), baseFolderPath());
    };
    if (!appdata.isEmpty()) m_appdata.emplace("APPDATA", expand(appdata));
    if (!home.isEmpty()) m_home.emplace("HOME", expand(home));
    start();
    const QString base = baseFolderPath();
    record = expand(record);
    QStringList kept{base + QStringLiteral("etc/keep.txt"),
                     base + QStringLiteral("export/keep.txt"),
                     base + QStringLiteral("images/keep.txt")};
    if (!home.isEmpty()) kept.append(expand(home) + QStringLiteral("/keep.txt"));
    if (!other.isEmpty()) {
        setfolder(QStringLiteral("import"), expand(other));
        kept.append(expand(other) + QStringLiteral("keep.txt"));
    }
    for (const QString &file : std::as_const(kept)) touch(file);
    if (make == u"file") {
        touch(record);
        kept.append(record);
    } else if (make != u"folder") {
        QVERIFY(QFile::link(expand(make), record.chopped(1)));
    }
    const QString inRecord = record + QStringLiteral("sub/keep.txt");
    // A "tmp/../" record needs its "tmp" to climb out of.
    if (record.contains(QStringLiteral("/../")))
        QDir().mkpath(record.left(record.indexOf(QStringLiteral("/../"))));
    if (make != u"file") touch(inRecord);
    setfolder(QStringLiteral("tmp"), record);

    deletetempfiles(false);

    for (const QString &file : std::as_const(kept)) QVERIFY2(exists(file), qPrintable(file));
    if (make != u"file") QCOMPARE(exists(inRecord), !emptied);
}

void TestCleanup::systemFolders_data()
{
    QTest::addColumn<bool>("alsoSystem");
    QTest::addColumn<QString>("temp");     // "<unset>", or a folder name below a plain folder
    QTest::addColumn<QString>("spool");    // "<none>", or a folder name below a plain folder
    QTest::addColumn<bool>("tempEmptied"); // the user's and the system's temporary folders
    QTest::addColumn<bool>("spoolEmptied");

    QTest::newRow("flag off") << false << "Temp"
                              << "spool" << false << false;
    QTest::newRow("TEMP with the word") << true << "Temp"
                                        << "<none>" << true << false;
    QTest::newRow("TEMP unset, spool still done") << true << "<unset>"
                                                  << "Spool" << false << true;
    QTest::newRow("neither word") << true << "scratch"
                                  << "printers" << false << false;
    QTest::newRow("both") << true << "my-temp"
                          << "PRINTERS-SPOOL" << true << true;
}

void TestCleanup::systemFolders()
{
    QFETCH(bool, alsoSystem);
    QFETCH(QString, temp);
    QFETCH(QString, spool);
    QFETCH(bool, tempEmptied);
    QFETCH(bool, spoolEmptied);
    const QString userTemp = Plain + (temp == u"<unset>" ? QStringLiteral("Temp") : temp);
    const QString windir = Plain + QStringLiteral("win");
    const QString spoolDir = Plain + (spool == u"<none>" ? QStringLiteral("spool") : spool);
    touch(userTemp + QStringLiteral("/u.txt"));
    touch(windir + QStringLiteral("/temp/w.txt"));
    touch(spoolDir + QStringLiteral("/job.spl"));
    EnvGuard tempEnv("TEMP", temp == u"<unset>" ? std::nullopt : std::optional(userTemp));
    EnvGuard windirEnv("WINDIR", windir);
    registry::MemoryRegistry machine;
    if (spool != u"<none>")
        machine.setValue(QStringLiteral("System\\CurrentControlSet\\Control\\Print\\Printers"),
                         QStringLiteral("DefaultSpoolDirectory"),
                         registry::Value::fromText(spoolDir));
    registry::setSource(&machine);
    start();
    loglines.clear();

    deletetempfiles(alsoSystem);

    registry::setSource(nullptr);
    QCOMPARE(platform::fileExists(userTemp + QStringLiteral("/u.txt")), !tempEmptied);
    QCOMPARE(platform::fileExists(windir + QStringLiteral("/temp/w.txt")), !tempEmptied);
    QCOMPARE(platform::fileExists(spoolDir + QStringLiteral("/job.spl")), !spoolEmptied);
    QVERIFY(platform::dirExists(userTemp));
    QVERIFY(platform::dirExists(windir + QStringLiteral("/temp")));
    QVERIFY(platform::dirExists(spoolDir));
    QStringList expected{
        QStringLiteral("Sletter midlertidige filer opprettet av Kalvenor programmer")};
    if (tempEmptied) expected.append(QStringLiteral("Sletter midlertidige filer i Windows"));
    if (spoolEmptied) expected.append(QStringLiteral("Sletter skriverkøer"));
    QCOMPARE(messages(), expected);
}

void TestCleanup::unsoundSystemFoldersDeleteNothing_data()
{
    // "<base>" is the base folder with its separator, "<work>" the working folder.
    QTest::addColumn<QString>("temp");       // empty: unset
    QTest::addColumn<QString>("windirTemp"); // empty: a folder; else the target of a link
    QTest::addColumn<QString>("spool");      // empty: none
    QTest::addColumn<QString>("home");       // empty: as it is

    QTest::newRow("TEMP climbing out") << "<work>/Temp/../keep"
                                       << ""
                                       << ""
                                       << "";
    QTest::newRow("TEMP is the home, named Temp") << "<work>/Temp"
                                                  << ""
                                                  << ""
                                                  << "<work>/Temp";
    QTest::newRow("the system's temp, a link out") << "<work>/Temp"
                                                   << "<work>/keep"
                                                   << ""
                                                   << "";
    QTest::newRow("spool climbing out") << ""
                                        << ""
                                        << "<work>/spool/../keep"
                                        << "";
    QTest::newRow("spool is the program's spool folder") << ""
                                                         << ""
                                                         << "<base>spool"
                                                         << "";
}

void TestCleanup::unsoundSystemFoldersDeleteNothing()
{
    QFETCH(QString, temp);
    QFETCH(QString, windirTemp);
    QFETCH(QString, spool);
    QFETCH(QString, home);
    const QString work = m_sandbox->work();
    const auto expand = [&](QString text) {
        return text.replace(QStringLiteral("<work>"), work)
            .replace(QStringLiteral("<base>"), baseFolderPath());
    };
    QDir().mkpath(work + QStringLiteral("/Temp"));
    QDir().mkpath(work + QStringLiteral("/spool"));
    QDir().mkpath(work + QStringLiteral("/win"));
    if (windirTemp.isEmpty())
        QDir().mkpath(work + QStringLiteral("/win/temp"));
    else
        QVERIFY(QFile::link(expand(windirTemp), work + QStringLiteral("/win/temp")));
    EnvGuard tempEnv("TEMP", temp.isEmpty() ? std::nullopt : std::optional(expand(temp)));
    EnvGuard windirEnv("WINDIR", work + QStringLiteral("/win"));
    if (!home.isEmpty()) m_home.emplace("HOME", expand(home));
    registry::MemoryRegistry machine;
    if (!spool.isEmpty())
        machine.setValue(QStringLiteral("System\\CurrentControlSet\\Control\\Print\\Printers"),
                         QStringLiteral("DefaultSpoolDirectory"),
                         registry::Value::fromText(expand(spool)));
    registry::setSource(&machine);
    start();
    QStringList kept{baseFolderPath() + QStringLiteral("etc/keep.txt"),
                     baseFolderPath() + QStringLiteral("spool/keep.txt"),
                     work + QStringLiteral("/keep/keep.txt")};
    if (!home.isEmpty()) kept.append(expand(home) + QStringLiteral("/keep.txt"));
    for (const QString &file : std::as_const(kept)) touch(file);

    deletetempfiles(true);

    registry::setSource(nullptr);
    for (const QString &file : std::as_const(kept)) QVERIFY2(exists(file), qPrintable(file));
}

QTEST_MAIN(TestCleanup)
#include "tst_cleanup.moc"
