// Tests of the base start-up and shut-down, run in-process on a temporary application-data
// folder: the command line, the settings stamps, the folder tree, the flags and the log.
#include "Felles.h"
#include "hs_reg.h"
#include "platform.h"
#include "startup.h"
#include "testsupport.h"
#include "textfil.h"
#include "windowpos.h"
#include "xmldata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <optional>

#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString base() { return platform::appDataFolder() + QStringLiteral("/Kalvenor/"); }
QString mainIni() { return base() + QStringLiteral("etc/kalvenor.ini"); }
QString logFile()
{
    return base() + QStringLiteral("log/") +
           QFileInfo(platform::programFilePath()).completeBaseName() + QStringLiteral(".log");
}

void writeSettings(const QString &standard)
{
    writeBytes(mainIni(), ("[STANDARD]\r\n" + standard + "\r\n").toLatin1());
}

// The lines of a settings section as they lie in the file.
QStringList sectionLines(const QString &file, const QString &section)
{
    QStringList lines;
    platform::Encoding enc;
    platform::readLines(file, lines, enc);
    QStringList out;
    bool inside = false;
    for (const QString &line : lines) {
        if (line.startsWith(u'[')) {
            inside = line == u'[' + section + u']';
            continue;
        }
        if (inside && !line.isEmpty()) out.append(line);
    }
    return out;
}

QStringList keysOf(const QStringList &lines)
{
    QStringList keys;
    for (const QString &line : lines) keys.append(line.section(u'=', 0, 0));
    return keys;
}

// Log lines without their time stamps.
QStringList withoutStamps(const QStringList &lines)
{
    const QString stamp = datetimetext() + u' ';
    QStringList out;
    for (const QString &line : lines)
        out.append(line.startsWith(stamp) ? line.mid(stamp.size()) : line);
    return out;
}

QStringList loggedMessages(const QString &file)
{
    QStringList lines;
    platform::Encoding enc;
    platform::readLines(file, lines, enc);
    return withoutStamps(lines);
}

int countContaining(const QStringList &lines, const QString &text)
{
    int n = 0;
    for (const QString &line : lines) n += line.contains(text) ? 1 : 0;
    return n;
}

const QStringList TreeLeaves{"archive",    "backup",     "data/quarvel", "data/dobrin",
                             "data/zq4",   "data/docs",  "data/tfm",     "etc",
                             "export/xml", "export/pdf", "export/csv",   "export/html/varer",
                             "import",     "images",     "spool",        "tmp",
                             "xml",        "log",        "maler/docs",   "maler/zq4"};

// Everything written on standard error while it lives, taken off through a file.
class StderrCapture {
  public:
    StderrCapture() : m_saved(::dup(STDERR_FILENO))
    {
        std::fflush(stderr);
        m_file.open();
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }
    QByteArray take()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

  private:
    void restore()
    {
        if (m_saved < 0) return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    int m_saved;
    QTemporaryFile m_file;
};

// A machine on which the program has run before: the whole tree is there.
void makeTree()
{
    for (const QString &leaf : TreeLeaves) QDir().mkpath(base() + leaf);
}

bool treeComplete()
{
    for (const QString &leaf : TreeLeaves)
        if (!platform::dirExists(base() + leaf)) return false;
    return true;
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstStartStampsAndBuildsTheTree();
    void existingFileGetsOnlyModifiedStamps();
    void commandLine_data();
    void commandLine();
    void unfinishedTreeIsFinished_data();
    void unfinishedTreeIsFinished();
    void installBuildsTheTreeOnce_data();
    void installBuildsTheTreeOnce();
    void logLinesFollowTheFlags_data();
    void logLinesFollowTheFlags();
    void hintLineOnlyWithHints();
    void clearLogAtStartup();
    void clearLogFailureDoesNotStopStartup();
    void cleanupRunsOnlyWhenAsked_data();
    void cleanupRunsOnlyWhenAsked();
    void unusableFolderTreeDoesNotEndTheProgram();
    void unreadableSettingsGoToStandardError_data();
    void unreadableSettingsGoToStandardError();
    void unitsStartAndStopInOrder();
    void unreadableLogIsNeverOverwritten_data();
    void unreadableLogIsNeverOverwritten();
    void badUserNameIsRefused_data();
    void badUserNameIsRefused();
    void programHandsOnQtsOwnOptions_data();
    void programHandsOnQtsOwnOptions();
    void endRequestClosesLikeTheUser_data();
    void endRequestClosesLikeTheUser();
    void endRequestAnswersTheBoxes_data();
    void endRequestAnswersTheBoxes();

  private:
    // Runs the start-up with the program's path in front of the switches, as the entry does.
    void start(const QStringList &switches = {})
    {
        basestartup(QStringList{platform::programFilePath()} + switches);
        m_logfile = logfile;
    }

    // The program itself, headless, on the sandbox.
    void startProgram(QProcess &program, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("APPDATA"), m_sandbox->appdata());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(m_sandbox->work());
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QStringLiteral(KALVENOR_PROGRAM), arguments);
    }

    std::optional<Sandbox> m_sandbox;
    std::optional<RecordingUi> m_ui;
    QString m_logfile;
};

void TestStartup::initTestCase()
{
    pinNorwegianLocale();
    platform::setClock([] { return QDateTime(QDate(2024, 3, 5), QTime(8, 9, 10)); });
}

void TestStartup::init()
{
    m_sandbox.emplace();
    m_ui.emplace();
}

void TestStartup::cleanup()
{
    m_ui.reset();
    m_sandbox.reset();
}

void TestStartup::firstStartStampsAndBuildsTheTree()
{
    start();

    QVERIFY(treeComplete());
    QVERIFY(loglines.isEmpty());
    QCOMPARE(ininame, QFileInfo(mainIni()).absoluteFilePath());
    // The stamps are on disk before the shut-down.
    QCOMPARE(keysOf(sectionLines(mainIni(), QStringLiteral("INI_SELF"))),
             QStringList({"CREATED_TIME", "CREATED_NAME", "CREATED_PROGRAM", "CREATED_USER",
                          "CREATED_INIVERSION", "MODIFIED_TIME", "MODIFIED_NAME",
                          "MODIFIED_PROGRAM", "MODIFIED_USER", "MODIFIED_INIVERSION"}));
    QCOMPARE(sectionLines(mainIni(), QStringLiteral("FOLDERS")).size(), 26);
    baseshutdown();

    QVERIFY(loglines.isEmpty());
    QCOMPARE(readBytes(m_logfile), QByteArray()); // no "LogToFile": nothing logged
    QVERIFY(m_ui->messages.isEmpty());
}

void TestStartup::existingFileGetsOnlyModifiedStamps()
{
    makeTree();
    writeSettings(QString());

    start();
    baseshutdown();

    QCOMPARE(keysOf(sectionLines(mainIni(), QStringLiteral("INI_SELF"))),
             QStringList({"MODIFIED_TIME", "MODIFIED_NAME", "MODIFIED_PROGRAM", "MODIFIED_USER",
                          "MODIFIED_INIVERSION"}));
}

void TestStartup::commandLine_data()
{
    QTest::addColumn<QStringList>("switches");
    QTest::addColumn<QString>("user"); // userparam
    QTest::addColumn<QString>("ip");   // ipparam
    QTest::addColumn<bool>("verboseOn");
    QTest::addColumn<bool>("treeBuilt");

    QTest::newRow("none") << QStringList() << ""
                          << "" << false << false;
    QTest::newRow("--debug") << QStringList{"--debug"} << ""
                             << "" << true << false;
    QTest::newRow("upper-case --DEBUG") << QStringList{"--DEBUG"} << ""
                                        << "" << false << false;
    QTest::newRow("-install") << QStringList{"-install"} << ""
                              << "" << true << true;
    QTest::newRow("near misses ignored")
        << QStringList{"debug", "-debug", "--install", "-Install", "--ip", "x", "-user", "y"} << ""
        << "" << false << false;
    QTest::newRow("--user name") << QStringList{"--user", "kari"} << "kari"
                                 << "" << false << false;
    QTest::newRow("--user last") << QStringList{"--user"} << ""
                                 << "" << false << false;
    QTest::newRow("--user --debug") << QStringList{"--user", "--debug"} << "--debug"
                                    << "" << true << false;
    QTest::newRow("last value wins")
        << QStringList{"-ip", "10.0.0.1", "--user", "a", "-ip", "10.0.0.2", "--user", "b"} << "b"
        << "10.0.0.2" << false << false;
    QTest::newRow("value is a switch too") << QStringList{"--user", "-ip", "10.9.9.9"} << "-ip"
                                           << "10.9.9.9" << false << false;
    QTest::newRow("-ip last") << QStringList{"-ip", "10.0.0.1", "-ip"} << ""
                              << "" << false << false;
}

void TestStartup::commandLine()
{
    QFETCH(QStringList, switches);
    QFETCH(QString, user);
    QFETCH(QString, ip);
    QFETCH(bool, verboseOn);
    QFETCH(bool, treeBuilt);
    makeTree(); // not a first run

    start(switches);

    QCOMPARE(userparam, user);
    QCOMPARE(ipparam, ip);
    QCOMPARE(verbose, verboseOn);
    QVERIFY(!logtofile); // without "LogToFile" the switches do not keep logging on
    // Over a tree that lacks nothing, only "-install" makes and records it anew.
    QCOMPARE(sectionLines(mainIni(), QStringLiteral("FOLDERS")).size() == 26, treeBuilt);
    const QString name = getusername();
    if (!user.isEmpty()) QCOMPARE(name, platform::upperCase(user));
    QVERIFY(sectionLines(mainIni(), QStringLiteral("INI_SELF"))
                .contains(QStringLiteral("CREATED_USER=") + name));
    baseshutdown();

    // The shut-down leaves nothing behind for the next start.
    QVERIFY(userparam.isEmpty());
    QVERIFY(ipparam.isEmpty());
}

void TestStartup::unfinishedTreeIsFinished_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("first start killed after data/") << "killed";
    QTest::newRow("folders removed since") << "removed";
    QTest::newRow("a folder recorded elsewhere") << "moved";
}

// Only a missing data/ counts as a first start; a start after one that was cut short still
// finds the rest of the tree missing, and must make it.
void TestStartup::unfinishedTreeIsFinished()
{
    QFETCH(QString, kind);
    const QString elsewhere = m_sandbox->appdata() + QStringLiteral("/elsewhere/tmp/");
    if (kind == u"removed") {
        start();
        baseshutdown();
        for (const QString leaf : {"data/docs", "tmp", "spool", "export/xml", "import", "log"})
            QVERIFY(QDir(base() + leaf).removeRecursively());
    } else {
        QVERIFY(QDir().mkpath(base() + QStringLiteral("data/quarvel")));
        QVERIFY(QDir().mkpath(base() + QStringLiteral("archive")));
        writeBytes(mainIni(), kind == u"moved"
                                  ? ("[FOLDERS]\r\ntmp_folder=" + elsewhere + "\r\n").toUtf8()
                                  : QByteArray());
    }
    const QStringList before = sectionLines(mainIni(), QStringLiteral("FOLDERS"));

    start();
    baseshutdown();

    const QStringList folders = sectionLines(mainIni(), QStringLiteral("FOLDERS"));
    if (kind != u"moved")
        QVERIFY(folders.contains(QStringLiteral("import_folder=") + base() +
                                 QStringLiteral("import/")));
    for (const QString &line : before) QVERIFY2(folders.contains(line), qPrintable(line));
    QCOMPARE(QFileInfo(base() + QStringLiteral("log")).permissions() &
                 (QFile::ReadGroup | QFile::ReadOther),
             QFile::Permissions());
    if (kind == u"moved") {
        QVERIFY(!platform::dirExists(elsewhere));
        QVERIFY(!platform::dirExists(base() + QStringLiteral("tmp")));
        QVERIFY(folders.contains(QStringLiteral("tmp_folder=") + elsewhere));
        QVERIFY(QDir().mkpath(base() + QStringLiteral("tmp"))); // for the check below
    }
    QVERIFY(treeComplete());
}

void TestStartup::installBuildsTheTreeOnce_data()
{
    QTest::addColumn<bool>("firstRun");
    QTest::addColumn<bool>("oldLog");
    QTest::addColumn<int>("treeLines"); // "Oppretter mappen" and "FEIL: [mkdirsafe:" lines

    QTest::newRow("first run") << true << false << 24;
    QTest::newRow("tree exists") << false << false << 24;
    QTest::newRow("tree and log exist") << false << true << 0;
}

void TestStartup::installBuildsTheTreeOnce()
{
    QFETCH(bool, firstRun);
    QFETCH(bool, oldLog);
    QFETCH(int, treeLines);
    if (!firstRun) {
        makeTree();
        QDir().mkpath(base() + QStringLiteral("log"));
    }
    const QString log = logFile();
    if (oldLog) writeBytes(log, "earlier run\r\n");

    start({QStringLiteral("-install")});
    baseshutdown();

    QVERIFY(treeComplete());
    QCOMPARE(m_logfile, log);
    const QStringList logged = loggedMessages(log);
    QCOMPARE(countContaining(logged, QStringLiteral("Oppretter mappen ")) +
                 countContaining(logged, QStringLiteral("FEIL: [mkdirsafe:")),
             treeLines);
    if (oldLog) QCOMPARE(logged, QStringList{QStringLiteral("earlier run")});
    // The settings folder was made when the file was opened, so its row fails.
    if (firstRun) QCOMPARE(countContaining(logged, QStringLiteral("FEIL: [mkdirsafe:183]")), 1);
}

void TestStartup::logLinesFollowTheFlags_data()
{
    QTest::addColumn<QStringList>("switches");
    QTest::addColumn<QString>("standard");
    QTest::addColumn<QStringList>("expected"); // "*" at the end: the line begins so
    QTest::addColumn<bool>("verboseOn");       // after the start-up

    const QStringList start{"START: %PROGRAM%", "INIFIL: %INI%", "BRUKER: %USER%"};
    const QStringList verboseRun =
        start + QStringList{"LOGIN: *", "Oppdaterer %INI%",
                            "AVSLUTTER PROGRAM. 0 feilmeldinger og 0 advarsler"};

    QTest::newRow("--debug, LogToFile")
        << QStringList{"--debug"} << "LogToFile=1" << verboseRun << true;
    QTest::newRow("--debug alone") << QStringList{"--debug"} << "" << QStringList() << true;
    QTest::newRow("VerboseLogging alone")
        << QStringList() << "VerboseLogging=1" << QStringList() << false;
    QTest::newRow("LogToFile alone") << QStringList() << "LogToFile=1" << start << false;
    QTest::newRow("LogToFile and VerboseLogging")
        << QStringList() << "LogToFile=1\r\nVerboseLogging=1" << verboseRun << true;
    QTest::newRow("LogToFile=0 with --debug")
        << QStringList{"--debug"} << "LogToFile=0" << QStringList() << true;
}

void TestStartup::logLinesFollowTheFlags()
{
    QFETCH(QStringList, switches);
    QFETCH(QString, standard);
    QFETCH(QStringList, expected);
    QFETCH(bool, verboseOn);
    makeTree();
    QDir().mkpath(base() + QStringLiteral("log"));
    writeSettings(standard);

    start(switches);
    QCOMPARE(verbose, verboseOn);
    const QString ini = ininame;
    const QString user = getusername();
    baseshutdown();

    const QStringList logged = loggedMessages(m_logfile);
    QCOMPARE(logged.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QString want = expected[i];
        want.replace(QLatin1String("%PROGRAM%"), platform::programFilePath())
            .replace(QLatin1String("%INI%"), ini)
            .replace(QLatin1String("%USER%"), user);
        if (want.endsWith(u'*'))
            QVERIFY2(logged[i].startsWith(want.chopped(1)), qPrintable(logged[i]));
        else
            QCOMPARE(logged[i], want);
    }
}

void TestStartup::hintLineOnlyWithHints()
{
    makeTree();
    QDir().mkpath(base() + QStringLiteral("log"));
    writeSettings(QStringLiteral("LogToFile=1"));

    start({QStringLiteral("--debug")});
    writelog(QStringLiteral("FEIL: one"));
    writelog(QStringLiteral("ADVARSEL: two"));
    writelog(QStringLiteral("HINT: three"));
    writelog(QStringLiteral("HINT: four"));
    baseshutdown();

    const QStringList logged = loggedMessages(m_logfile);
    QCOMPARE(logged.mid(logged.size() - 2),
             QStringList({"AVSLUTTER PROGRAM. 1 feilmeldinger og 1 advarsler",
                          "Det ble gitt 2 hint i programmet"}));
}

void TestStartup::clearLogAtStartup()
{
    makeTree();
    writeSettings(QStringLiteral("ClearLogFileOnStartup=1"));
    const QString log = logFile();
    writeBytes(log, "earlier run\r\n");

    start();
    baseshutdown();

    QCOMPARE(loggedMessages(log), QStringList{QStringLiteral("LOGGFIL TØMT (TextFile.ClearLog).")});
}

void TestStartup::clearLogFailureDoesNotStopStartup()
{
    // The log folder is recorded elsewhere, where it does not exist, so the start leaves it
    // missing and the log file cannot be created when it is cleared; the log-folder lookup
    // falls back to the tree's folder and makes it later.
    makeTree();
    QVERIFY(QDir(base() + QStringLiteral("log")).removeRecursively());
    writeSettings(
        QStringLiteral("LogToFile=1\r\nClearLogFileOnStartup=1\r\n[FOLDERS]\r\nlog_folder=") +
        m_sandbox->appdata() + QStringLiteral("/elsewhere/log/"));

    start({QStringLiteral("--debug")});

    QVERIFY(!m_ui->messages.isEmpty());
    QCOMPARE(m_ui->messages.first().caption, QStringLiteral("FEIL"));
    QVERIFY(platform::dirExists(base() + QStringLiteral("log")));
    baseshutdown();

    // Every later step ran: the settings reached the disk, the start lines and the summary
    // reached the log file.
    QVERIFY(platform::fileExists(mainIni()));
    const QStringList logged = loggedMessages(m_logfile);
    QCOMPARE(logged.value(0), QStringLiteral("LOGGFIL TØMT (TextFile.ClearLog)."));
    QCOMPARE(countContaining(logged, QStringLiteral("START: ")), 1);
    QCOMPARE(countContaining(logged, QStringLiteral("LOGIN: ")), 1);
    QCOMPARE(countContaining(logged, QStringLiteral("AVSLUTTER PROGRAM. ")), 1);
}

void TestStartup::cleanupRunsOnlyWhenAsked_data()
{
    QTest::addColumn<QString>("standard");
    QTest::addColumn<bool>("removed");

    QTest::newRow("not asked") << "" << false;
    QTest::newRow("only the system flag") << "DeleteSystemTemporaryFiles=1" << false;
    QTest::newRow("asked") << "DeleteTemporaryFiles=1" << true;
}

void TestStartup::cleanupRunsOnlyWhenAsked()
{
    QFETCH(QString, standard);
    QFETCH(bool, removed);
    makeTree();
    QDir().mkpath(base() + QStringLiteral("log"));
    writeBytes(base() + QStringLiteral("tmp/left/over.txt"), "x");
    writeSettings(QStringLiteral("LogToFile=1\r\n") + standard);
    writeBytes(logFile(), "earlier run\r\n");

    start();

    QCOMPARE(!platform::dirExists(base() + QStringLiteral("tmp/left")), removed);
    QVERIFY(platform::dirExists(base() + QStringLiteral("tmp")));
    // The cleanup's lines follow the loaded log and come before the start lines.
    const QStringList messages = withoutStamps(loglines);
    QCOMPARE(messages.value(0), QStringLiteral("earlier run"));
    const qsizetype cleanupLine = messages.indexOf(
        QStringLiteral("Sletter midlertidige filer opprettet av Kalvenor programmer"));
    QCOMPARE(cleanupLine >= 0, removed);
    const auto start = std::find_if(messages.cbegin(), messages.cend(), [](const QString &m) {
        return m.startsWith(QLatin1String("START: "));
    });
    QVERIFY(start != messages.cend());
    if (removed) QVERIFY(cleanupLine < start - messages.cbegin());
    baseshutdown();
}

void TestStartup::unusableFolderTreeDoesNotEndTheProgram()
{
    // "Kalvenor" is a file, so no folder, settings file or log file can be made below it.
    writeBytes(base().chopped(1), "not a folder");

    start({QStringLiteral("--debug")});
    QVERIFY(!platform::fileExists(mainIni()));
    iniwritestring(QStringLiteral("Kept"), QStringLiteral("in memory"));
    QCOMPARE(inireadstring(QStringLiteral("Kept")), QStringLiteral("in memory"));
    baseshutdown();

    QCOMPARE(readBytes(base().chopped(1)), QByteArray("not a folder"));
}

void TestStartup::unreadableSettingsGoToStandardError_data()
{
    QTest::addColumn<QStringList>("switches");
    QTest::addColumn<bool>("oldLog");
    QTest::addColumn<QString>("folder"); // empty: the user's own; else a working subfolder

    QTest::newRow("--debug, a log file to load") << QStringList{"--debug"} << true << "";
    QTest::newRow("--debug, no log file") << QStringList{"--debug"} << false << "";
    QTest::newRow("no switch") << QStringList() << true << "";
    QTest::newRow("a folder holding %1 and %2") << QStringList{"--debug"} << true << "a%1b%2c";
}

void TestStartup::unreadableSettingsGoToStandardError()
{
    QFETCH(QStringList, switches);
    QFETCH(bool, oldLog);
    QFETCH(QString, folder);
    makeTree();
    QDir().mkpath(base() + QStringLiteral("log"));
    if (oldLog) writeBytes(logFile(), "earlier run\r\n");
    QString ini = mainIni();
    if (!folder.isEmpty()) {
        const QString work = m_sandbox->work() + u'/' + folder;
        QDir().mkpath(work);
        QDir::setCurrent(work); // the sandbox puts the old working folder back
        ini = work + QStringLiteral("/kalvenor.ini");
    }
    writeBytes(ini, "[STANDARD]\r\nLogToFile=1\r\n");
    // Another program holds the settings file exclusively through the start-up.
    const int fd = ::open(QFile::encodeName(ini).constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX), 0);
    QByteArray errors;
    {
        StderrCapture capture;
        start(switches);
        errors = capture.take();
    }
    ::close(fd);

    const QString line = QStringLiteral("FEIL: Kan ikke lese innstillingsfilen ") + ininame +
                         QStringLiteral(" (feilnr. 32)");
    // Settings that cannot be read hold no "LogToFile", and it alone decides about the log; the
    // switches do not bring logging back for this line, so it goes to standard error.
    QVERIFY(!logtofile);
    const QStringList messages = withoutStamps(loglines);
    QCOMPARE(messages.count(line), 0);
    QCOMPARE(QString::fromLocal8Bit(errors).split(u'\n').count(line), 1);
    QCOMPARE(messages, oldLog ? QStringList{QStringLiteral("earlier run")} : QStringList());
    QCOMPARE(readBytes(ini), QByteArray("[STANDARD]\r\nLogToFile=1\r\n")); // never replaced
    baseshutdown();
}

void TestStartup::unreadableLogIsNeverOverwritten_data()
{
    QTest::addColumn<QString>("standard");
    QTest::addColumn<bool>("besideFile"); // this run's lines kept beside the log
    QTest::newRow("logging on") << "LogToFile=1" << true;
    QTest::newRow("logging off") << "" << false;
}

// Another instance holds the log while this one starts: its earlier lines must survive.
void TestStartup::unreadableLogIsNeverOverwritten()
{
    QFETCH(QString, standard);
    QFETCH(bool, besideFile);
    makeTree();
    QDir().mkpath(base() + QStringLiteral("log"));
    writeSettings(standard);
    const QByteArray earlier = "05.03.2024 08:00:00 START: den forrige\r\n";
    writeBytes(logFile(), earlier);

    platform::FileHandle other;
    QCOMPARE(platform::openFile(logFile(), platform::OpenMode::Append, other), 0);
    start();
    QCOMPARE(platform::closeFile(other), 0);
    const QString beside = logsavefile();
    baseshutdown();

    QCOMPARE(readBytes(logFile()), earlier);
    const QStringList logs = QDir(base() + "log").entryList(QDir::Files, QDir::Name);
    QCOMPARE(logs.size(), besideFile ? 2 : 1);
    if (!besideFile) return;
    QVERIFY(beside != logFile() && QFileInfo(beside).path() == QFileInfo(logFile()).path());
    const QStringList logged = loggedMessages(beside);
    QCOMPARE(logged.value(0), "FEIL: Kan ikke lese loggfilen " + logFile() +
                                  " (feilnr. 32); den blir ikke overskrevet, og linjene fra "
                                  "denne kjøringen lagres i " +
                                  beside);
    QCOMPARE(countContaining(logged, "START: "), 1);
}

void TestStartup::badUserNameIsRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("climbs out of the settings folder") << "../../VICTIM";
    QTest::newRow("line break") << "eve\nmallory";
}

// The name never reaches a file name: the run goes on with the logon name, and says why.
void TestStartup::badUserNameIsRefused()
{
    QFETCH(QString, name);
    makeTree();
    QDir().mkpath(base() + QStringLiteral("log"));
    writeSettings("LogToFile=1");
    const QString victim = QDir(base() + "etc/../../VICTIM.INI").absolutePath(); // in the sandbox
    writeBytes(victim, "; keep\r\n");

    start({"--user", name});
    QWidget window;
    QString extra;
    loadwindowpos(&window, "Test", extra);
    const QString logon = platform::upperCase(getlogonuser());
    QCOMPARE(getusername(), logon);
    baseshutdown();

    QCOMPARE(readBytes(victim), QByteArray("; keep\r\n"));
    const QStringList etc = QDir(base() + "etc").entryList(QDir::Files);
    QCOMPARE(etc, (QStringList{"kalvenor.ini", logon + ".INI"}));
    QCOMPARE(m_ui->messages.size(), 1);
    QCOMPARE(m_ui->messages[0].caption, QString("FEIL"));
    QVERIFY(m_ui->messages[0].text.contains("påloggingsnavnet " + logon + "."));
    const QStringList logged = loggedMessages(m_logfile);
    QCOMPARE(countContaining(logged, "FEIL: Brukernavnet \"" + oneline(name) + "\" kan ikke"), 1);
    QVERIFY(logged.contains("BRUKER: " + logon));
    QVERIFY(sectionLines(mainIni(), "INI_SELF").contains("MODIFIED_USER=" + logon));
}

void TestStartup::unitsStartAndStopInOrder()
{
    start();
    QVERIFY(XMLLoggProc == &XMLLogg);
    QVERIFY(!logfile.isEmpty());
    baseshutdown();
    QVERIFY(!XMLLoggProc);
    QVERIFY(logfile.isEmpty()); // the log went last
    QVERIFY(platform::fileExists(m_logfile));
}

void TestStartup::programHandsOnQtsOwnOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("user"); // in the stamps

    QTest::newRow("-reverse") << QStringList{"--user", "-reverse", "--debug"} << "-REVERSE";
    QTest::newRow("-style x") << QStringList{"--user", "-style", "fusion"} << "-STYLE";
    QTest::newRow("--style x") << QStringList{"--user", "--style", "fusion"} << "--STYLE";
    QTest::newRow("-session s") << QStringList{"--user", "-session", "s1"} << "-SESSION";
}

// Qt takes its own options out of the argument list as the application object is made; the
// program's switches must still see them.
void TestStartup::programHandsOnQtsOwnOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, user);
    QProcess program;
    startProgram(program, arguments);
    QVERIFY(program.waitForStarted());

    // The stamps are on disk before the first window; the program then waits in its loop.
    const auto stamped = [] {
        return keysOf(sectionLines(mainIni(), QStringLiteral("INI_SELF")))
            .contains(QStringLiteral("MODIFIED_USER"));
    };
    QTRY_VERIFY_WITH_TIMEOUT(stamped() || program.state() == QProcess::NotRunning, 30000);
    const bool running = program.state() == QProcess::Running;
    program.kill();
    program.waitForFinished();
    QVERIFY(running);
    const QStringList stamps = sectionLines(mainIni(), QStringLiteral("INI_SELF"));
    const auto modified = std::find_if(stamps.cbegin(), stamps.cend(), [](const QString &line) {
        return line.startsWith(QLatin1String("MODIFIED_USER="));
    });
    QVERIFY(modified != stamps.cend());
    QCOMPARE(modified->section(u'=', 1), user);
}

void TestStartup::endRequestClosesLikeTheUser_data()
{
    QTest::addColumn<QList<int>>("requests");
    QTest::newRow("SIGTERM") << QList<int>{SIGTERM};
    QTest::newRow("SIGHUP") << QList<int>{SIGHUP};
    QTest::newRow("SIGINT") << QList<int>{SIGINT};
    QTest::newRow("a second one on the first's heels") << QList<int>{SIGTERM, SIGINT, SIGTERM};
}

// A logout or shutdown ends the program through its own close: the window's settings, the
// settings file and the log all reach the disk, and the exit is a normal one.
void TestStartup::endRequestClosesLikeTheUser()
{
    QFETCH(QList<int>, requests);
    makeTree();
    QDir().mkpath(base() + QStringLiteral("log"));
    writeSettings("LogToFile=1");
    QProcess program;
    startProgram(program, {"--debug", "--user", "tester"});
    QVERIFY(program.waitForStarted());

    // The window has been shown once its placement has been looked up in the per-user file.
    const QString user = base() + QStringLiteral("etc/TESTER.INI");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(user) || program.state() == QProcess::NotRunning, 30000);
    for (const int request : requests) ::kill(pid_t(program.processId()), request);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    QVERIFY(keysOf(sectionLines(user, "VINDU-TFM-Form")).contains("Left"));
    QVERIFY(keysOf(sectionLines(mainIni(), "TFM")).contains("Lokalisering"));
    const QStringList logged =
        loggedMessages(base() + "log/" + QFileInfo(KALVENOR_PROGRAM).completeBaseName() + ".log");
    QCOMPARE(countContaining(logged, "START: "), 1);
    // The child's own clock and locale stamp the lines.
    QVERIFY2(logged.value(logged.size() - 1).contains(" AVSLUTTER PROGRAM. 0 feilmeldinger"),
             qPrintable(logged.join(u'\n')));
}

void TestStartup::endRequestAnswersTheBoxes_data()
{
    QTest::addColumn<QStringList>("unreadable"); // code-list files, each with a box of its own
    QTest::newRow("one box") << QStringList{"tfm-produkt.txt"};
    QTest::newRow("a second box after the first")
        << QStringList{"tfm-system.txt", "tfm-produkt.txt"};
}

// A logout while the program waits for an answer to a box must not leave it waiting for good,
// to be killed in the end with its log and settings lost: the box gets the answer of its Escape
// key, so does every box after it, and the shut-down runs.
void TestStartup::endRequestAnswersTheBoxes()
{
    QFETCH(QStringList, unreadable);
    QDir().mkpath(base() + QStringLiteral("data/tfm"));
    QDir().mkpath(base() + QStringLiteral("log"));
    writeBytes(mainIni(), "[STANDARD]\r\nLogToFile=1\r\n[TFM]\r\nLokalisering=B1 BYGG 1\r\n");
    for (const QString &name : unreadable)
        QVERIFY(makeHostileFile(base() + "data/tfm/" + name, QStringLiteral("fifo")));
    QProcess program;
    startProgram(program, {"--user", "tester"});
    QVERIFY(program.waitForStarted());

    // The per-user file is written as the window is placed, just before the code lists load.
    const QString user = base() + QStringLiteral("etc/TESTER.INI");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(user) || program.state() == QProcess::NotRunning, 30000);
    ::kill(pid_t(program.processId()), SIGTERM);
    const bool ended = program.waitForFinished(30000);
    if (!ended) {
        program.kill();
        program.waitForFinished();
    }
    QVERIFY(ended);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(sectionLines(mainIni(), "TFM").filter("Lokalisering="),
             QStringList{"Lokalisering=B1 BYGG 1"});
    const QStringList logged =
        loggedMessages(base() + "log/" + QFileInfo(KALVENOR_PROGRAM).completeBaseName() + ".log");
    QCOMPARE(countContaining(logged, "START: "), 1);
    for (const QString &name : unreadable)
        QVERIFY(isHostileFile(base() + "data/tfm/" + name, "fifo"));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
