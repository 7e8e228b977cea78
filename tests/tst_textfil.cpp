// textfil: the checked text-file routines (numbers, boxes, errorcount, line rules) and the log
// (recording, counting, ClearLog, saving in the encoding last loaded).
#include "Felles.h"
#include "testsupport.h"
#include "textfil.h"
#include "xmldata.h"

#include <QDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const QDateTime fixedTime(QDate(2026, 12, 10), QTime(8, 28, 38));

QStringList readAll(const QString &path)
{
    textfile f;
    QStringList lines;
    if (resetsafe(f, path)) return {"<failed>"};
    while (!eoftextfile(f)) {
        QString line;
        readlnsafe(f, line);
        lines.append(line);
    }
    closesafe(f);
    return lines;
}
} // namespace

class TestTextfil : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void openFailures_data();
    void openFailures();
    void readLines_data();
    void readLines();
    void utf8MarkIsNotRecognised();
    void wrongStateNumbers();
    void writeThroughTheBuffer();
    void appendLine();
    void appendLineOnFailedOpen();
    void readSharedForReadingOnly();

    void writelogOff();
    void writelogCounts_data();
    void writelogCounts();
    void oneMessageOneLine_data();
    void oneMessageOneLine();
    void clearLog();
    void clearLogFailureRaises();
    void logFileName();
    void finalisationKeepsEncoding_data();
    void finalisationKeepsEncoding();
    void finalisationCreatesEmptyFile();
    void finalisationSurvivesUnwritableFile();
    void finalisationKeepsWhatAnotherRunSaved_data();
    void finalisationKeepsWhatAnotherRunSaved();
    void finalisationOnAFullDiskLeavesTheLogWhole();
    void twoRunsEndingAtOnceKeepBoth();
    void fullLogIsSetAside_data();
    void fullLogIsSetAside();
    void xmlLogg();

  private:
    Sandbox *m_box = nullptr;
    RecordingUi *m_ui = nullptr;
};

void TestTextfil::initTestCase()
{
    pinNorwegianLocale();
    platform::setClock([] { return fixedTime; });
}

void TestTextfil::init()
{
    m_box = new Sandbox;
    m_ui = new RecordingUi;
    textfilInitialization();
}

void TestTextfil::cleanup()
{
    delete m_ui;
    delete m_box;
    xmldataFinalization();
}

void TestTextfil::openFailures_data()
{
    QTest::addColumn<QString>("routine");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("reset missing")
        << "reset"
        << "missing.txt" << 2 << "Feil under åpning av missing.txt  (FEILNR.: 2)";
    QTest::newRow("reset no folder")
        << "reset"
        << "nix/a.txt" << 3 << "Feil under åpning av nix/a.txt  (FEILNR.: 3)";
    QTest::newRow("append missing")
        << "append"
        << "missing.txt" << 2 << "Feil under åpning av missing.txt  (2)";
    QTest::newRow("rewrite no folder")
        << "rewrite"
        << "nix/a.txt" << 3 << "Feil under oppretting av ny fil: nix/a.txt  (3)";
    QTest::newRow("rewrite a folder") << "rewrite"
                                      << "." << 5 << "Feil under oppretting av ny fil: .  (5)";
}

void TestTextfil::openFailures()
{
    QFETCH(QString, routine);
    QFETCH(QString, name);
    QFETCH(int, number);
    QFETCH(QString, text);
    textfile f;
    const int result = routine == "reset"    ? resetsafe(f, name)
                       : routine == "append" ? appendsafe(f, name)
                                             : rewritesafe(f, name);
    QCOMPARE(result, number);
    QCOMPARE(errorcount, 1);
    QCOMPARE(m_ui->messages.size(), 1);
    QCOMPARE(m_ui->messages[0].caption, QString("FEIL"));
    QCOMPARE(m_ui->messages[0].text, text);
    QCOMPARE(m_ui->messages[0].icon, platform::Icon::None);
    QCOMPARE(f.state, TextFileState::Closed);
    // Closing the handle of a failed open is an error of its own.
    QCOMPARE(closesafe(f), 103);
    QCOMPARE(m_ui->messages.last().text, QString("Feil under lukking av fil"));
    QCOMPARE(errorcount, 2);
}

void TestTextfil::readLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("blanks trimmed")
        << QByteArray("  a b  \r\n   \r\n\tc\t\r\n") << QStringList{"a b", "", "\tc\t"};
    QTest::newRow("last line without end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
    QTest::newRow("lf only") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("lone cr dropped") << QByteArray("a\rb\r\nc\r") << QStringList{"ab", "c"};
    QTest::newRow("ctrl-z at line start ends the file") << QByteArray("a\r\n\x1A"
                                                                      "b\r\n")
                                                        << QStringList{"a"};
    QTest::newRow("ctrl-z inside a line") << QByteArray("ab\x1A"
                                                        "cd\r\ne\r\n")
                                          << QStringList{"ab", "e"};
    QTest::newRow("ansi") << QByteArray("\xC6\xD8\xC5 \x80\r\n") << QStringList{"ÆØÅ €"};
    QTest::newRow("longer than the buffer")
        << QByteArray(1000, 'x') + "\r\ny" << QStringList{QString(1000, 'x'), "y"};
    QTest::newRow("cr lf across the buffer edge")
        << QByteArray(127, 'x') + "\r\ny" << QStringList{QString(127, 'x'), "y"};
}

void TestTextfil::readLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    writeBytes("in.txt", bytes);
    QCOMPARE(readAll("in.txt"), lines);
    QCOMPARE(errorcount, 0);
    QVERIFY(m_ui->messages.isEmpty());
}

void TestTextfil::utf8MarkIsNotRecognised()
{
    writeBytes("bom.txt", "\xEF\xBB\xBFkode\r\n");
    QCOMPARE(readAll("bom.txt"), QStringList{"ï»¿kode"});
}

void TestTextfil::wrongStateNumbers()
{
    logtofile = true;
    textfile f;
    QCOMPARE(writelnsafe(f, "x"), 105);
    QCOMPARE(errorcount, 1);
    QVERIFY(m_ui->messages.isEmpty()); // the writer only counts

    QVERIFY(eoftextfile(f));
    QCOMPARE(eoftextfileerror(), 104);
    QCOMPARE(eoftextfileerror(), 0);

    QString line = "stale";
    readlnsafe(f, line);
    QCOMPARE(line, QString());
    QCOMPARE(errorcount, 2);
    QCOMPARE(m_ui->texts(), QStringList{"Lesefeil i tekstfil "});
    QCOMPARE(loglines.size(), 1);
    QVERIFY(loglines[0].endsWith(" Lesefeil i tekstfil."));

    writeBytes("r.txt", "a\r\n");
    QCOMPARE(resetsafe(f, "r.txt"), 0);
    QCOMPARE(writelnsafe(f, "x"), 105);
    QCOMPARE(closesafe(f), 0);
    QCOMPARE(closesafe(f), 103);
    QCOMPARE(errorcount, 4);
}

void TestTextfil::writeThroughTheBuffer()
{
    textfile f;
    QCOMPARE(rewritesafe(f, "out.txt"), 0);
    const QString longLine(300, u'æ');
    QCOMPARE(writelnsafe(f, "kort"), 0);
    QCOMPARE(writelnsafe(f, longLine), 0);
    QCOMPARE(writelnsafe(f, QStringLiteral(u"ĉ")), 0); // lacking in the code page
    QCOMPARE(closesafe(f), 0);
    QCOMPARE(readBytes("out.txt"), QByteArray("kort\r\n") + QByteArray(300, '\xE6') + "\r\n?\r\n");
    QCOMPARE(errorcount, 0);

    // rewritesafe empties an existing file.
    QCOMPARE(rewritesafe(f, "out.txt"), 0);
    QCOMPARE(closesafe(f), 0);
    QCOMPARE(readBytes("out.txt"), QByteArray());
}

void TestTextfil::appendLine()
{
    QCOMPARE(appendline("ny.txt", "første"), 0);
    QCOMPARE(readBytes("ny.txt"), QByteArray("f\xF8rste\r\n"));
    QCOMPARE(appendline("ny.txt", "andre"), 0);
    QCOMPARE(readBytes("ny.txt"), QByteArray("f\xF8rste\r\nandre\r\n"));
    QCOMPARE(errorcount, 0);
}

void TestTextfil::appendLineOnFailedOpen()
{
    QCOMPARE(appendline("nix/ny.txt", "x"), 103);
    QCOMPARE(errorcount, 3);
    QCOMPARE(m_ui->texts(), (QStringList{"Feil under oppretting av ny fil: nix/ny.txt  (3)",
                                         "Feil under lukking av fil"}));
}

void TestTextfil::readSharedForReadingOnly()
{
    writeBytes("s.txt", "a\r\n");
    textfile reader, other, writer;
    QCOMPARE(resetsafe(reader, "s.txt"), 0);
    QCOMPARE(resetsafe(other, "s.txt"), 0);
    QCOMPARE(appendsafe(writer, "s.txt"), 32);
    QCOMPARE(m_ui->texts(), QStringList{"Feil under åpning av s.txt  (32)"});
    closesafe(reader);
    closesafe(other);
}

void TestTextfil::writelogOff()
{
    QCOMPARE(writelog("FEIL: x"), -1);
    QVERIFY(loglines.isEmpty());
    QCOMPARE(errorcount, 0);
}

void TestTextfil::writelogCounts_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("errors");
    QTest::addColumn<int>("warnings");
    QTest::addColumn<int>("hints");
    QTest::newRow("FEIL") << "FEIL: x" << 1 << 0 << 0;
    QTest::newRow("ERROR no blank") << "ERROR:x" << 1 << 0 << 0;
    QTest::newRow("ADVARSEL") << "ADVARSEL: x" << 0 << 1 << 0;
    QTest::newRow("WARNING") << "WARNING: x" << 0 << 1 << 0;
    QTest::newRow("HINT") << "HINT: x" << 0 << 0 << 1;
    QTest::newRow("leading blank") << " FEIL: x" << 0 << 0 << 0;
    QTest::newRow("lower case") << "feil: x" << 0 << 0 << 0;
    QTest::newRow("later in message") << "Lesefeil i tekstfil." << 0 << 0 << 0;
    QTest::newRow("information") << "START: x" << 0 << 0 << 0;
}

void TestTextfil::writelogCounts()
{
    QFETCH(QString, message);
    QFETCH(int, errors);
    QFETCH(int, warnings);
    QFETCH(int, hints);
    logtofile = true;
    QCOMPARE(writelog(message + "  "), 0);
    QCOMPARE(loglines, QStringList{"10.12.2026 08:28:38 " + message + "  "});
    QCOMPARE(errorcount, errors);
    QCOMPARE(warningcount, warnings);
    QCOMPARE(hintcount, hints);
}

void TestTextfil::oneMessageOneLine_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("line"); // the message as the log file holds it
    QTest::newRow("forged line after CR LF")
        << "-ip 1.2.3.4\r\n10.12.2026 08:28:38 AVSLUTTER PROGRAM. 0 feilmeldinger"
        << "-ip 1.2.3.4  10.12.2026 08:28:38 AVSLUTTER PROGRAM. 0 feilmeldinger";
    QTest::newRow("bare LF") << "BRUKER: EVE\nMALLORY"
                             << "BRUKER: EVE MALLORY";
    QTest::newRow("lone CR") << "a\rb"
                             << "a b";
    QTest::newRow("tab, escape, NUL and Ctrl-Z") << QString("a\tb\x1b[2Jc") + QChar(0) + "d\x1a"
                                                 << "a b [2Jc d ";
    QTest::newRow("DEL and letters beyond ASCII stay") << "x\x7fy æøå"
                                                       << "x\x7fy æøå";
}

// Whatever a message holds, it is one line of the file that the next start reads back.
void TestTextfil::oneMessageOneLine()
{
    QFETCH(QString, message);
    QFETCH(QString, line);
    QDir().mkpath(logfolder);
    logtofile = true;
    writelog("før");
    writelog(message);
    writelog("etter");
    const QString path = logfile;
    textfilFinalization();
    QStringList lines;
    platform::Encoding enc;
    QCOMPARE(platform::readLines(path, lines, enc), 0);
    const QString stamp = "10.12.2026 08:28:38 ";
    QCOMPARE(lines, (QStringList{stamp + "før", stamp + line, stamp + "etter"}));
}

void TestTextfil::clearLog()
{
    QDir().mkpath(logfolder);
    writeBytes(logfile, "old line\r\n");
    logtofile = false;
    errorcount = 4;
    warningcount = 2;
    ClearLog();
    const QString line = "10.12.2026 08:28:38 LOGGFIL TØMT (TextFile.ClearLog).";
    QCOMPARE(loglines, QStringList{line});
    QCOMPARE(readBytes(logfile), platform::toAnsi(line) + "\r\n");
    QVERIFY(readBytes(logfile).contains("T\xD8MT"));
    QCOMPARE(errorcount, 0);
    QCOMPARE(warningcount, 2);
}

void TestTextfil::clearLogFailureRaises()
{
    // The log folder does not exist yet.
    errorcount = 0;
    try {
        ClearLog();
        QFAIL("ClearLog did not raise");
    } catch (const EInOutError &e) {
        QCOMPARE(e.code, 103);
    }
    QCOMPARE(errorcount, 2); // the open and the write; the strict close raises instead
    QCOMPARE(loglines.size(), 1);
    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY(m_ui->messages[0].text.startsWith("Feil under oppretting av ny fil: "));
}

void TestTextfil::logFileName()
{
    const QString expected = m_box->appdata() + "/Kalvenor/log/tst_textfil.log";
    QCOMPARE(logfile, expected);
    QCOMPARE(logfolder, m_box->appdata() + "/Kalvenor/log/");
    // A later log folder does not rename the file until logfilename runs again.
    logfolder = m_box->work() + "/";
    QCOMPARE(logfile, expected);
    QString path;
    logfilename(path);
    QCOMPARE(path, m_box->work() + "/tst_textfil.log");
}

void TestTextfil::finalisationKeepsEncoding_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("utf8 mark kept") << QByteArray("\xEF\xBB\xBFgammel \xC3\xA6\r\n")
                                    << QByteArray("\xEF\xBB\xBFgammel \xC3\xA6\r\n"
                                                  "10.12.2026 08:28:38 ny \xC3\xB8\r\n");
    QTest::newRow("ansi stays ansi") << QByteArray("gammel \xE6\n")
                                     << QByteArray("gammel \xE6\r\n"
                                                   "10.12.2026 08:28:38 ny \xF8\r\n");
}

void TestTextfil::finalisationKeepsEncoding()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    writeBytes(logfile, before);
    loadloglines();
    logtofile = true;
    writelog("ny ø");
    const QString path = logfile;
    textfilFinalization();
    QCOMPARE(readBytes(path), after);
    QVERIFY(loglines.isEmpty() && logfile.isEmpty() && logfolder.isEmpty());
}

void TestTextfil::finalisationCreatesEmptyFile()
{
    QDir().mkpath(logfolder);
    const QString path = logfile;
    textfilFinalization();
    QCOMPARE(readBytes(path), QByteArray());
}

void TestTextfil::finalisationSurvivesUnwritableFile()
{
    // The log folder is missing: the lines are lost, but the program ends normally.
    logtofile = true;
    writelog("x");
    const QString path = logfile;
    textfilFinalization();
    QVERIFY(!QFile::exists(path));
    QVERIFY(loglines.isEmpty());
}

void TestTextfil::finalisationKeepsWhatAnotherRunSaved_data()
{
    QTest::addColumn<QByteArray>("atLoad"); // empty: no log file when this run loaded it
    QTest::addColumn<QByteArray>("savedMeanwhile");
    QTest::addColumn<QStringList>("atEnd");
    const QString stamp = "10.12.2026 08:28:38 ";
    QTest::newRow("log there at the start")
        << QByteArray("eldre\r\n") << QByteArray("eldre\r\nden andre\r\n")
        << QStringList{"eldre", "den andre", stamp + "denne"};
    QTest::newRow("no log at the start")
        << QByteArray() << QByteArray("den andre\r\n") << QStringList{"den andre", stamp + "denne"};
    QTest::newRow("nobody else saved")
        << QByteArray("eldre\r\n") << QByteArray() << QStringList{"eldre", stamp + "denne"};
}

// Two instances at once: the one that ends last must not throw away what the other saved.
void TestTextfil::finalisationKeepsWhatAnotherRunSaved()
{
    QFETCH(QByteArray, atLoad);
    QFETCH(QByteArray, savedMeanwhile);
    QFETCH(QStringList, atEnd);
    QDir().mkpath(logfolder);
    const QString path = logfile;
    if (!atLoad.isEmpty()) writeBytes(path, atLoad);
    loadloglines();
    logtofile = true;
    writelog("denne");
    if (!savedMeanwhile.isEmpty()) writeBytes(path, savedMeanwhile);
    textfilFinalization();
    QStringList lines;
    platform::Encoding enc;
    QCOMPARE(platform::readLines(path, lines, enc), 0);
    QCOMPARE(lines, atEnd);
}

// The earlier lines are never torn off by a save that runs out of room half-way.
void TestTextfil::finalisationOnAFullDiskLeavesTheLogWhole()
{
    SmallDisk disk(logfolder, 8);
    if (!disk.mounted()) QSKIP("a small file system cannot be mounted here");
    // Ten bytes short of whole pages: the next line needs a page the disk no longer has, and a
    // save that stops there leaves the start of that line.
    QByteArray before;
    for (int i = 0; before.size() < 32768; ++i)
        before += QByteArray::number(100000 + i) + ' ' + QByteArray(55, 'x') + "\r\n";
    before.chop(12);
    before += "\r\n";
    QCOMPARE(before.size(), 32758);
    const QString path = logfile;
    writeBytes(path, before);
    loadloglines();
    logtofile = true;
    writelog("denne");
    QVERIFY(disk.fill("filler"));
    textfilFinalization();
    QCOMPARE(readBytes(path), before);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"filler", QFileInfo(path).fileName()}));
}

// One logout ends both instances at once: the one that saves second waits for the first, and
// then takes in what the first saved.
void TestTextfil::twoRunsEndingAtOnceKeepBoth()
{
    QDir().mkpath(logfolder);
    writeBytes(logfile, "eldre\r\n");
    const auto run = [](const char *line, int tellParent, int waitFor) {
        const pid_t pid = ::fork();
        if (pid != 0) return pid;
        loadloglines();
        logtofile = true;
        writelog(line);
        setLogSaveSeam([=](LogSaveStep step) {
            char c = step == LogSaveStep::Merged ? 'M' : 'W';
            if (::write(tellParent, &c, 1) != 1) ::_exit(2);
            if (step == LogSaveStep::Merged && waitFor >= 0 && ::read(waitFor, &c, 1) != 1)
                ::_exit(3);
        });
        textfilFinalization();
        ::_exit(0);
    };
    int first[2], go[2], second[2];
    QCOMPARE(::pipe(first), 0);
    QCOMPARE(::pipe(go), 0);
    const pid_t a = run("første", first[1], go[0]);
    ::close(first[1]);
    char c = 0;
    QCOMPARE(::read(first[0], &c, 1), 1);
    QCOMPARE(c, 'M'); // the first has read the log again and holds it
    QCOMPARE(::pipe(second), 0);
    const pid_t b = run("andre", second[1], -1);
    ::close(second[1]);
    // The second either waits for the first, or (without a lock) has saved already.
    const ssize_t got = ::read(second[0], &c, 1);
    QCOMPARE(::write(go[1], "g", 1), 1);
    int status = 0;
    QCOMPARE(::waitpid(a, &status, 0), a);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    QCOMPARE(::waitpid(b, &status, 0), b);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int fd : {first[0], go[0], go[1], second[0]}) ::close(fd);
    QStringList lines;
    platform::Encoding enc;
    QCOMPARE(platform::readLines(logfile, lines, enc), 0);
    const QString stamp = "10.12.2026 08:28:38 ";
    QCOMPARE(lines, (QStringList{"eldre", stamp + "første", stamp + "andre"}));
    QCOMPARE(got, 1);
    QCOMPARE(c, 'W');
    QCOMPARE(QDir(logfolder).entryList(QDir::Files | QDir::Hidden), QStringList{"tst_textfil.log"});
}

void TestTextfil::fullLogIsSetAside_data()
{
    QTest::addColumn<QString>(
        "kind"); // "over": past the cap at the start; "at": this run passes it
    QTest::addColumn<bool>("olderAside");
    QTest::newRow("past the cap at the start, an older one aside") << "over" << true;
    QTest::newRow("passed by this run's lines") << "at" << false;
}

// A log that has grown to what a start reads back goes aside whole; this run's lines begin a
// new one, and no file of its own is left beside it.
void TestTextfil::fullLogIsSetAside()
{
    QFETCH(QString, kind);
    QFETCH(bool, olderAside);
    QDir().mkpath(logfolder);
    const QString log = logfile;
    const qint64 cap = platform::MaxTextFileSize;
    if (kind == "over") {
        QVERIFY(makeHostileFile(log, "oversized"));
    } else {
        // Lines of 1 MiB up to the cap exactly: the file still reads, one line more does not.
        const QByteArray line = QByteArray((1 << 20) - 2, 'x') + "\r\n";
        QFile f(log);
        QVERIFY(f.open(QIODevice::WriteOnly));
        for (qint64 n = 0; n < cap; n += line.size()) f.write(line);
    }
    const qint64 size = QFileInfo(log).size();
    if (olderAside) writeBytes(log + ".1", "eldste\r\n");
    loadloglines();
    logtofile = true;
    writelog("denne");
    textfilFinalization();
    QCOMPARE(readBytes(log), QByteArray("10.12.2026 08:28:38 denne\r\n"));
    QCOMPARE(QFileInfo(log + ".1").size(), size);
    QCOMPARE(QDir(QFileInfo(log).path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"tst_textfil.log", "tst_textfil.log.1"}));
}

void TestTextfil::xmlLogg()
{
    logtofile = true;
    verbose = true;
    XMLLogg(7, "uten krok");
    QVERIFY(loglines.isEmpty());
    xmldataInitialization();
    XMLLogg(7, "tekst");
    QCOMPARE(loglines, QStringList{"10.12.2026 08:28:38 XML: 7 tekst"});
    verbose = false;
    XMLLogg(7, "tekst");
    QCOMPARE(loglines.size(), 1);
}

QTEST_GUILESS_MAIN(TestTextfil)
#include "tst_textfil.moc"
