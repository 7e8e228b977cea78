// Tests of how a downloaded file takes the local file's place, with no window and no server:
// the fresh temporary file, the checks before the renames, the renames and their log lines,
// the modes, and the local file put back when the new one cannot take its name.
#include "placement.h"

#include "platform.h"
#include "testsupport.h"
#include "textfil.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray absent() { return QByteArray(); }

// What a name holds: its bytes, "<folder>", "<fifo>", or null for nothing.
QByteArray contents(const QString &name)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(name).constData(), &st) != 0) return absent();
    if (S_ISDIR(st.st_mode)) return "<folder>";
    if (S_ISFIFO(st.st_mode)) return "<fifo>";
    const QByteArray bytes = readBytes(name);
    return bytes.isNull() ? QByteArray("") : bytes;
}

int modeOf(const QString &name)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(name).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QStringList logged()
{
    QStringList out;
    for (const QString &line : loglines) out.append(line.mid(line.indexOf(" FTP: ") + 1));
    return out;
}

} // namespace

class TestPlacement : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void names_data();
    void names();
    void place_data();
    void place();
};

void TestPlacement::init()
{
    textfilInitialization();
    logtofile = true;
    loglines.clear();
}

void TestPlacement::cleanup()
{
    placement::setRename({});
    loglines.clear();
}

void TestPlacement::names_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("temporary");
    QTest::addColumn<QString>("old");
    QTest::newRow("plain") << "liste.csv"
                           << "liste.tmp"
                           << "liste.old";
    QTest::newRow("dot in a folder") << "data.v2/liste.csv"
                                     << "data.v2/liste.tmp"
                                     << "data.v2/liste.old";
    QTest::newRow("two dots") << "a.b.csv"
                              << "a.tmp"
                              << "a.old";
    QTest::newRow("no dot") << "/x/README"
                            << "/x/README.tmp"
                            << "/x/README.old";
}

void TestPlacement::names()
{
    QFETCH(QString, local);
    QFETCH(QString, temporary);
    QFETCH(QString, old);
    const placement::Download download(local);
    QCOMPARE(download.temporary(), temporary);
    QCOMPARE(download.old(), old);
}

void TestPlacement::place_data()
{
    QTest::addColumn<QString>("setup");     // what stands at the names before, see place()
    QTest::addColumn<QString>("meanwhile"); // what happens between the bytes and the placing
    QTest::addColumn<QString>("failing");   // the names whose renames fail, "from>to" joined by ","
    QTest::addColumn<QString>("prepared");  // the log line of a refused preparation
    QTest::addColumn<int>("error");
    QTest::addColumn<QStringList>("log"); // the placement's lines
    QTest::addColumn<QByteArray>("localAfter");
    QTest::addColumn<QByteArray>("oldAfter");
    QTest::addColumn<QByteArray>("tmpAfter");
    QTest::addColumn<int>("localMode");

    const QString deleted = "FTP: slettet midlertidig fil: liste.old";
    const QString moved = "FTP: endret navn på liste.csv til liste.old";
    const QString placed = "FTP: endret navn på liste.tmp til liste.csv";
    const QString notPlaced = "FTP: Feil nr. 500, kan ikke endre navn på liste.tmp til liste.csv. "
                              "Den nye filen ligger i liste.tmp.";
    const QString changed = "FTP: Feil nr. 500, den midlertidige filen liste.tmp ble endret eller "
                            "tatt i bruk etter nedlastingen. liste.csv er ikke erstattet.";
    const QString notAFile = "FTP: Feil nr. 500, liste.csv er ikke en vanlig fil og blir ikke "
                             "erstattet.";
    const QByteArray ny("ny"), gammel("gammel");

    QTest::newRow("first download")
        << ""
        << ""
        << ""
        << "" << 0 << QStringList{placed} << ny << absent() << absent() << 0600;
    QTest::newRow("replaces, keeps the previous")
        << "local, old"
        << ""
        << ""
        << "" << 0 << QStringList{deleted, moved, placed} << ny << gammel << absent() << 0640;
    QTest::newRow("read-only local and old copy")
        << "local 0400, old 0400"
        << ""
        << ""
        << "" << 0 << QStringList{deleted, moved, placed} << ny << gammel << absent() << 0400;
    QTest::newRow("read-only leftover temporary file")
        << "local, tmp 0400"
        << ""
        << ""
        << "" << 0 << QStringList{moved, placed} << ny << gammel << absent() << 0640;
    QTest::newRow("leftover temporary file is a link")
        << "local, tmp link"
        << ""
        << ""
        << "" << 0 << QStringList{moved, placed} << ny << gammel << absent() << 0640;
    QTest::newRow("old copy is a link")
        << "local, old link"
        << ""
        << ""
        << "" << 0 << QStringList{deleted, moved, placed} << ny << gammel << absent() << 0640;
    QTest::newRow("old copy is a folder")
        << "local, old folder"
        << ""
        << ""
        << "" << 500 << QStringList{notPlaced} << gammel << QByteArray("<folder>") << ny << 0640;
    QTest::newRow("empty download replaces nothing")
        << "local, empty"
        << ""
        << ""
        << "" << 0 << QStringList{} << gammel << absent() << QByteArray("") << 0640;
    QTest::newRow("temporary file rewritten")
        << "local"
        << "rewritten"
        << ""
        << "" << 500 << QStringList{changed} << gammel << absent() << QByteArray("ann") << 0640;
    QTest::newRow("temporary file replaced, same size")
        << "local"
        << "replaced"
        << ""
        << "" << 500 << QStringList{changed} << gammel << absent() << QByteArray("xy") << 0640;
    QTest::newRow("temporary file given a second name")
        << "local"
        << "second name"
        << ""
        << "" << 500 << QStringList{changed} << gammel << absent() << ny << 0640;
    QTest::newRow("local name is a folder")
        << "local folder"
        << ""
        << "" << notAFile << 500 << QStringList{} << QByteArray("<folder>") << absent() << absent()
        << 0700;
    QTest::newRow("local name is a pipe") << "local fifo"
                                          << ""
                                          << "" << notAFile << 500 << QStringList{}
                                          << QByteArray("<fifo>") << absent() << absent() << 0640;
    QTest::newRow("local name becomes a folder")
        << ""
        << "local folder"
        << ""
        << "" << 500 << QStringList{notAFile} << QByteArray("<folder>") << absent() << ny << 0700;
    QTest::newRow("last rename fails: the local file gets its name back")
        << "local 0400, old"
        << ""
        << "liste.tmp>liste.csv"
        << "" << 500
        << QStringList{deleted, moved, notPlaced, "FTP: endret navn på liste.old til liste.csv"}
        << gammel << absent() << ny << 0400;
    QTest::newRow("nor can the local file get its name back")
        << "local, old"
        << ""
        << "liste.tmp>liste.csv,liste.old>liste.csv"
        << "" << 500
        << QStringList{deleted, moved, notPlaced,
                       "FTP: kan ikke gi liste.old tilbake navnet liste.csv. Den lokale filen "
                       "ligger i liste.old."}
        << absent() << gammel << ny << -1;
}

void TestPlacement::place()
{
    QFETCH(QString, setup);
    QFETCH(QString, meanwhile);
    QFETCH(QString, failing);
    QFETCH(QString, prepared);
    QFETCH(int, error);
    QFETCH(QStringList, log);
    QFETCH(QByteArray, localAfter);
    QFETCH(QByteArray, oldAfter);
    QFETCH(QByteArray, tmpAfter);
    QFETCH(int, localMode);
    Sandbox box;
    const mode_t savedMask = ::umask(077);
    auto restoreMask = qScopeGuard([savedMask] { ::umask(savedMask); });
    // A umask of 077 makes every new file 0600, so a mode taken from anywhere else shows.
    const QStringList parts = setup.split(", ");
    auto has = [&parts](const char *part) { return parts.contains(QLatin1String(part)); };
    auto file = [](const char *name, const QByteArray &bytes, mode_t mode) {
        writeBytes(name, bytes);
        return ::chmod(name, mode) == 0;
    };
    if (has("local")) QVERIFY(file("liste.csv", "gammel", 0640));
    if (has("local 0400")) QVERIFY(file("liste.csv", "gammel", 0400));
    if (has("local folder")) QVERIFY(QDir().mkdir("liste.csv"));
    if (has("local fifo")) QCOMPARE(::mkfifo("liste.csv", 0640), 0);
    if (has("old")) QVERIFY(file("liste.old", "eldre", 0640));
    if (has("old 0400")) QVERIFY(file("liste.old", "eldre", 0400));
    if (has("old folder")) QVERIFY(QDir().mkdir("liste.old"));
    if (has("tmp 0400")) QVERIFY(file("liste.tmp", "fra før", 0400));
    if (has("old link") || has("tmp link")) {
        writeBytes("annen.csv", "annen");
        QVERIFY(QFile::link("annen.csv", has("old link") ? "liste.old" : "liste.tmp"));
    }
    placement::setRename([failing](const QString &from, const QString &to) {
        return failing.split(',').contains(from + '>' + to) ? 5 : platform::renameFile(from, to);
    });

    placement::Download download("liste.csv");
    QCOMPARE(download.prepare(), prepared);
    if (!prepared.isEmpty()) {
        QCOMPARE(download.file(), platform::NoFile);
        QCOMPARE(contents("liste.csv"), localAfter);
        QVERIFY(!QFile::exists("liste.tmp"));
        QVERIFY(!QFile::exists("liste.old"));
        return;
    }
    QCOMPARE(modeOf("liste.tmp"), 0600);
    const QByteArray bytes = has("empty") ? QByteArray() : QByteArray("ny");
    QCOMPARE(platform::writeFile(download.file(), bytes.constData(), int(bytes.size())), 0);
    if (meanwhile == "rewritten") writeBytes("liste.tmp", "ann");
    if (meanwhile == "replaced") QVERIFY(QFile::remove("liste.tmp"));
    if (meanwhile == "replaced") writeBytes("liste.tmp", "xy");
    if (meanwhile == "second name") QCOMPARE(::link("liste.tmp", "andre.csv"), 0);
    if (meanwhile == "local folder") QVERIFY(QDir().mkdir("liste.csv"));

    QCOMPARE(download.place(bytes.size()), error);
    QCOMPARE(logged(), log);
    QCOMPARE(contents("liste.csv"), localAfter);
    QCOMPARE(contents("liste.old"), oldAfter);
    QCOMPARE(contents("liste.tmp"), tmpAfter);
    if (localMode >= 0) QCOMPARE(modeOf("liste.csv"), localMode);
    // What waits under the temporary name is its owner's alone, and its owner's to write.
    if (!tmpAfter.isNull() && meanwhile.isEmpty()) QCOMPARE(modeOf("liste.tmp"), 0600);
    if (has("old link") || has("tmp link")) QCOMPARE(readBytes("annen.csv"), QByteArray("annen"));
}

QTEST_GUILESS_MAIN(TestPlacement)
#include "tst_placement.moc"
