// files: the Windows error numbers, the mode of a new file, readers that keep writers out, and
// the refusal of anything but a regular file.
#include "environment.h"
#include "errors.h"
#include "files.h"
#include "testsupport.h"
#include "textfil.h"
#include "textlines.h"

#include <QDeadlineTimer>
#include <QTest>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::Encoding;

class TestFiles : public QObject {
    Q_OBJECT
  private slots:
    void errorNumbers();
    void newFileModeLeavesTheUmaskAlone_data();
    void newFileModeLeavesTheUmaskAlone();
    void sharingReadersExcludeWriters();
    void onlyRegularFilesAreOpened_data();
    void onlyRegularFilesAreOpened();
};

void TestFiles::errorNumbers()
{
    Sandbox box;
    QStringList lines;
    Encoding enc;
    QCOMPARE(platform::readLines(box.work() + "/missing.txt", lines, enc), 2);
    QCOMPARE(platform::readLines(box.work() + "/nofolder/x.txt", lines, enc), 3);
    QCOMPARE(platform::readLines(box.work(), lines, enc), 5);
    QCOMPARE(platform::makeDir(box.work()), 183);
    QCOMPARE(platform::makeDir(box.work() + "/a/b"), 3);
    writeBytes(box.work() + "/file", "x");
    QCOMPARE(platform::writeLines(box.work() + "/file/x.txt", {"x"}, Encoding::Ansi), 3);
}

void TestFiles::newFileModeLeavesTheUmaskAlone_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("077") << 077;
    QTest::newRow("027") << 027;
}

// Asking for the mode never opens the umask up, not even for a moment: a file that another
// thread makes meanwhile gets no more permissions than the umask lets through.
void TestFiles::newFileModeLeavesTheUmaskAlone()
{
    QFETCH(int, mask);
    Sandbox sandbox;
    const mode_t saved = ::umask(mode_t(mask));
    const QByteArray name = QFile::encodeName(sandbox.work() + QStringLiteral("/made"));
    std::atomic<bool> stop{false};
    std::atomic<int> made{0};
    std::atomic<int> tooOpen{0};
    std::thread maker([&] {
        while (!stop) {
            const int fd = ::open(name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
            if (fd < 0) continue;
            struct stat st {};
            if (::fstat(fd, &st) == 0 && (st.st_mode & 0777 & mode_t(mask))) ++tooOpen;
            ::close(fd);
            ::unlink(name.constData());
            ++made;
        }
    });
    for (QDeadlineTimer start(5000); made == 0 && !start.hasExpired();) std::this_thread::yield();
    // Asked for all the while the other thread makes its next thousands of files.
    unsigned mode = 0;
    const int until = made + 5000;
    for (int i = 0; i < 100000 && made < until; ++i) mode = platform::newFileMode();
    stop = true;
    maker.join();
    ::umask(saved);
    QVERIFY(made > 0);
    QCOMPARE(mode, 0666u & ~unsigned(mask));
    QCOMPARE(tooOpen.load(), 0);
}

void TestFiles::sharingReadersExcludeWriters()
{
    Sandbox box;
    const QString path = box.work() + "/s.txt";
    writeBytes(path, "x");
    platform::FileHandle r1, r2, w;
    QCOMPARE(platform::openFile(path, platform::OpenMode::Read, r1), 0);
    QCOMPARE(platform::openFile(path, platform::OpenMode::Read, r2), 0);
    QCOMPARE(platform::openFile(path, platform::OpenMode::Rewrite, w), 32);
    QCOMPARE(readBytes(path), QByteArray("x")); // the refused rewrite truncated nothing
    platform::closeFile(r1);
    platform::closeFile(r2);
    QCOMPARE(platform::openFile(path, platform::OpenMode::Append, w), 0);
    QCOMPARE(platform::openFile(path, platform::OpenMode::Read, r1), 32);
    platform::closeFile(w);
}

void TestFiles::onlyRegularFilesAreOpened_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("read"); // readLines and the checked reader
    QTest::addColumn<int>("open"); // openFile for reading
    QTest::addColumn<int>(
        "rewrite"); // openFile for rewriting and an atomic writeLines; -1: not tried

    QTest::newRow("named pipe") << "fifo" << 5 << 5 << 5;
    QTest::newRow("link to /dev/zero") << "zero" << 5 << 5 << 5;
    QTest::newRow("folder") << "folder" << 5 << 5 << 5;
    // Opened like any file; whatever reads it as text refuses it.
    QTest::newRow("oversized") << "oversized" << 223 << 0 << -1;
}

void TestFiles::onlyRegularFilesAreOpened()
{
    QFETCH(QString, kind);
    QFETCH(int, read);
    QFETCH(int, open);
    QFETCH(int, rewrite);
    Sandbox box;
    RecordingUi ui;
    QStringList notices;
    platform::setNoticeSink([&](const QString &line) { notices.append(line); });
    const QString path = box.work() + "/list.txt";
    QVERIFY(makeHostileFile(path, kind));

    // None of these waits for the other end of a pipe, nor reads a device until memory runs out.
    QStringList lines{"kept?"};
    Encoding enc = Encoding::Utf8;
    QCOMPARE(platform::readLines(path, lines, enc), read);
    QVERIFY(lines.isEmpty());
    QCOMPARE(enc, Encoding::Ansi);
    platform::FileHandle h = platform::NoFile;
    QCOMPARE(platform::openFile(path, platform::OpenMode::Read, h), open);
    if (h != platform::NoFile) platform::closeFile(h);
    textfile f;
    QCOMPARE(resetsafe(f, path), read);
    QCOMPARE(f.state, TextFileState::Closed);
    QCOMPARE(ui.texts(), QStringList{"Feil under åpning av " + path +
                                     "  (FEILNR.: " + QString::number(read) + ")"});
    if (rewrite >= 0) {
        QCOMPARE(platform::openFile(path, platform::OpenMode::Rewrite, h), rewrite);
        QCOMPARE(platform::openFile(path, platform::OpenMode::Append, h), rewrite);
        QCOMPARE(platform::writeLines(path, {"new"}, Encoding::Ansi, true), rewrite);
        QCOMPARE(platform::writeLines(path, {"new"}, Encoding::Ansi, false), rewrite);
    }
    QVERIFY(isHostileFile(path, kind));
    QCOMPARE(entries(box.work()), QStringList{"list.txt"});

    if (read == platform::ErrFileTooLarge) {
        QCOMPARE(notices.size(), 2); // the whole-file read and the checked reader
        QVERIFY2(notices.at(0).startsWith("FEIL: " + path + " er for stor"),
                 qPrintable(notices.at(0)));
        QCOMPARE(notices.at(1), notices.at(0));
    } else {
        QVERIFY(notices.isEmpty());
    }
    platform::setNoticeSink({});
}
QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
