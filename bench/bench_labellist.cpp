// bench_labellist: the label list with 100,000 entries made from the built-in code tables
// (open and its peak memory, save, read back) beside `sort -f` of the same file; open, add and
// delete at 10,000, 100,000 and 1,000,000 entries, each add and delete with its first and
// slowest; the peak of opening the largest files the list takes, in both encodings, and of files
// of very short lines; files of 64 MiB of line ends and one entry of 32 MB; the two searches and
// their next buttons on the built-in tables. It prints figures and judges nothing.
#include "TFM.h"
#include "filedialog.h"
#include "input.h"
#include "labellist.h"
#include "startup.h"
#include "tfmapplication.h"
#include "tfmcombobox.h"
#include "tfmcore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <tuple>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// The first, the median and the slowest time of one call, in milliseconds.
struct Times {
    double first = 0, median = 0, max = 0;
};

// Times runs calls; before runs the untimed set-up of each.
Times timesMs(
    int runs, const std::function<void()> &action, const std::function<void()> &before = [] {})
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        before();
        QElapsedTimer t;
        t.start();
        action();
        QCoreApplication::processEvents(); // the list on screen follows
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return {times.front(), median(times), *std::max_element(times.begin(), times.end())};
}

// The median time of one call, in milliseconds.
double timeMs(
    int runs, const std::function<void()> &action, const std::function<void()> &before = [] {})
{
    return timesMs(runs, action, before).median;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

void print(const char *what, double value, const char *unit, const QString &goal)
{
    std::printf("%-46s %10.3f %s   (%s)\n", what, value, unit, qPrintable(goal));
}

void print(const QString &what, const Times &t, const QString &goal)
{
    std::printf("%-46s first %8.3f  median %8.3f  max %8.3f ms   (%s)\n", qPrintable(what), t.first,
                t.median, t.max, qPrintable(goal));
}

// The peak memory an open of path adds to the empty program, in MB, from a child of its own.
double childPeakMb(const QString &path)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--peak"), path});
    child.waitForFinished(120000);
    return QString::fromLatin1(child.readAllStandardOutput())
        .trimmed()
        .split(u'\n')
        .last()
        .toDouble();
}

// The peak of opening lines written to path in enc, beside the goal of three times the file.
void printOpenPeak(const QString &path, const QStringList &lines, platform::Encoding enc,
                   const char *name)
{
    platform::writeLines(path, lines, enc);
    const double mb = double(QFile(path).size()) / 1e6;
    print(qPrintable(QStringLiteral("peak memory, open of %1 MB (%2)")
                         .arg(mb, 0, 'f', 1)
                         .arg(QString::fromUtf8(name))),
          childPeakMb(path), "MB",
          QStringLiteral("goal %1 MB, 3x the file").arg(3 * mb, 0, 'f', 1));
    QFile::remove(path);
}

// A figure of /proc/self/status, in kB.
long statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toLong();
    return -1;
}

// The peak memory one action adds over what the process holds before it: the peak mark is set
// back to the present resident size first (Linux's clear_refs), so earlier peaks do not hide it.
struct Peak {
    long start = 0;
    Peak()
    {
        QFile refs(QStringLiteral("/proc/self/clear_refs"));
        if (refs.open(QIODevice::WriteOnly)) refs.write("5");
        start = statusKb("VmRSS:");
    }
    double addedMb() const { return double(statusKb("VmHWM:") - start) / 1024.0; }
};

// count labels with their texts, made from the built-in tables, in a shuffled order.
QStringList makeEntries(int count)
{
    const QStringList &lok = builtInTable(CodeTable::Lokalisering);
    const QStringList &sys = builtInTable(CodeTable::System);
    const QStringList &prod = builtInTable(CodeTable::Produkt);
    QStringList out;
    out.reserve(count);
    QRandomGenerator random(9);
    for (int i = 0; i < count; ++i) {
        const QString &p = prod.at(random.bounded(int(prod.size())));
        LabelFields f{lok.at(random.bounded(int(lok.size()))),
                      sys.at(random.bounded(int(sys.size()))),
                      p,
                      QStringLiteral("%1").arg(random.bounded(1, 100), 2, 10, QChar(u'0')),
                      QStringLiteral("%1").arg(random.bounded(1, 100), 2, 10, QChar(u'0')),
                      random.bounded(4) == 0,
                      QString()};
        out.append(composeLabel(f) + u',' + platform::upperCase(p.mid(3)));
    }
    return out;
}

// `sort -f` of the file in the named locale (empty: the environment's), the median of runs, in
// milliseconds.
double sortMs(const QString &file, const QString &locale, int runs, const QStringList &options = {})
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess sort;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!locale.isEmpty()) env.insert(QStringLiteral("LC_ALL"), locale);
        sort.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        sort.start(QStringLiteral("sort"),
                   options + QStringList{QStringLiteral("-f"), file, QStringLiteral("-o"),
                                         file + QStringLiteral(".sorted")});
        sort.waitForFinished(60000);
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

// Answers the next input dialog with text at once.
void answerNextInput(const QString &text)
{
    auto *poll = new QTimer;
    poll->setInterval(0);
    QObject::connect(poll, &QTimer::timeout, [poll, text] {
        if (!InputForm || !InputForm->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        InputForm->findChild<QLineEdit *>(QStringLiteral("Edit1"))->setText(text);
        InputForm->accept();
    });
    poll->start();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QTemporaryDir appdata;
    QTemporaryDir work;
    qputenv("APPDATA", QFile::encodeName(appdata.path()));
    TFMApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::NorwegianBokmal, QLocale::Norway));
    QDir::setCurrent(work.path());
    TTFMform *form = TFMApplication::startMainWindow(app.arguments());
    QCoreApplication::processEvents();

    LabelListModel *list = form->labelList();
    // A child of its own opens one file in the empty program and prints the peak it added, so
    // that memory the benchmark used before is not counted as the program's.
    if (argc == 3 && qstrcmp(argv[1], "--peak") == 0) {
        const Peak peak;
        FileDialog::setNextFileName(QString::fromLocal8Bit(argv[2]));
        TFMApplication::guarded([&] { form->BitBtn3Click(); });
        QCoreApplication::processEvents();
        std::printf("%.3f\n", peak.addedMb());
        std::fflush(stdout);
        std::_Exit(0);
    }
    QListView *view = form->findChild<QListView *>(QStringLiteral("MerkeListe"));
    auto selectMiddle = [&] { view->setCurrentIndex(list->index(list->count() / 2, 0)); };
    // Errors go to standard error, as no window shows them here.
    auto openFile = [&](const QString &path) {
        FileDialog::setNextFileName(path);
        TFMApplication::guarded([&] { form->BitBtn3Click(); });
        QCoreApplication::processEvents();
    };

    const int count = 100000;
    const QString file = work.filePath(QStringLiteral("stor-liste.csv"));
    const QString saved = work.filePath(QStringLiteral("lagret.csv"));
    platform::writeLines(file, makeEntries(count), platform::Encoding::Ansi);

    std::printf("\n");
    std::printf(
        "Kalvenor TFM label list: %d entries from the built-in tables (%lld bytes), headless\n",
        count, static_cast<long long>(QFile(file).size()));
    // The same file for sort: plain bytes, the environment's locale, and the Norwegian one.
    const double sortC = sortMs(file, QStringLiteral("C"), 5);
    print("sort -f of the same file (LC_ALL=C)", sortC, "ms", "reference");
    print("sort -f of the same file (LC_ALL=C, one thread)",
          sortMs(file, QStringLiteral("C"), 5, {QStringLiteral("--parallel=1")}), "ms",
          "reference");
    const QByteArray own = qgetenv("LC_ALL").isEmpty()
                               ? (qgetenv("LANG").isEmpty() ? "unset" : qgetenv("LANG"))
                               : qgetenv("LC_ALL");
    print(qPrintable(
              QStringLiteral("sort -f of the same file (locale %1)").arg(QString::fromLatin1(own))),
          sortMs(file, QString(), 5), "ms", "reference");
    QProcess probe;
    probe.start(QStringLiteral("locale"), {QStringLiteral("-a")});
    probe.waitForFinished();
    const QStringList locales = QString::fromLatin1(probe.readAllStandardOutput()).split(u'\n');
    if (locales.contains(QStringLiteral("nb_NO.utf8")) ||
        locales.contains(QStringLiteral("nb_NO.UTF-8")))
        print("sort -f of the same file (LC_ALL=nb_NO.UTF-8)",
              sortMs(file, QStringLiteral("nb_NO.UTF-8"), 5), "ms", "reference");
    else
        std::printf("%-46s   not installed\n", "sort -f of the same file (LC_ALL=nb_NO.UTF-8)");

    {
        const Peak peak;
        QElapsedTimer first;
        first.start();
        openFile(file);
        const double firstOpen = double(first.nsecsElapsed()) / 1e6;
        print("open (\"Åpne\"), first", firstOpen, "ms",
              QStringLiteral("goal %1 ms, 2x sort -f (C)").arg(2 * sortC, 0, 'f', 1));
        print("  peak memory it adds here (VmHWM)", peak.addedMb(), "MB",
              QStringLiteral("reference"));
        print("peak memory it adds to the empty program", childPeakMb(file), "MB",
              QStringLiteral("goal 40 MB"));
    }
    print("open (\"Åpne\"), median of 5", timeMs(5, [&] { openFile(file); }), "ms",
          QStringLiteral("goal %1 ms").arg(2 * sortC, 0, 'f', 1));
    print("save (\"Lagre\"), median of 5",
          timeMs(
              5, [&] { form->BitBtn2Click(); }, [&] { FileDialog::setNextFileName(saved); }),
          "ms", QStringLiteral("reference sort -f (C) %1 ms").arg(sortC, 0, 'f', 1));
    print("open the saved, sorted file, median of 5", timeMs(5, [&] { openFile(saved); }), "ms",
          QStringLiteral("goal %1 ms").arg(2 * sortC, 0, 'f', 1));
    print("read one back (\"Hent fra liste\")",
          timeMs(
              50, [&] { form->BitBtn5Click(); }, selectMiddle),
          "ms", QStringLiteral("goal 16 ms"));

    // Add and delete as the list grows. The list is opened from a file of that size, so the
    // first add is the first after an open; at 1,000,000 lines the open is timed beside sort.
    // The largest list leaves room for the adds below the limit.
    for (const int size : {10000, 100000, 1000000 - 50}) {
        const QString sized = work.filePath(QStringLiteral("liste-%1.csv").arg(size));
        platform::writeLines(sized, makeEntries(size), platform::Encoding::Ansi);
        const QString at = QStringLiteral(" at %1 entries").arg(size);
        if (size > 100000) {
            const double sortBig = sortMs(sized, QStringLiteral("C"), 3);
            print("sort -f of 1,000,000 lines (LC_ALL=C)", sortBig, "ms", "reference");
            print(QStringLiteral("open (\"Åpne\") of 1,000,000 lines"),
                  timesMs(3, [&] { openFile(sized); }),
                  QStringLiteral("goal %1 ms, 2x sort -f (C)").arg(2 * sortBig, 0, 'f', 1));
        } else {
            openFile(sized);
        }
        print(QStringLiteral("add (\"Legg til liste\")") + at,
              timesMs(50, [&] { form->BitBtn1Click(); }), QStringLiteral("goal 16 ms"));
        print(
            QStringLiteral("delete (Delete)") + at,
            timesMs(
                50, [&] { form->MerkeListeKeyDown(Qt::Key_Delete, Qt::NoModifier); }, selectMiddle),
            QStringLiteral("goal 16 ms"));
        QFile::remove(sized);
    }
    list->replace({});
    QCoreApplication::processEvents();

    // Files of 1,000,000 lines and nearly 64 MiB, the most the list takes, in the code page and
    // in UTF-8: the peak an open adds to the empty program, beside the file's size.
    {
        const QStringList entries = makeEntries(1000000);
        // The last with every letter in the first 256 but one on its last line, which puts all
        // the lines in UTF-16.
        for (const auto &[name, enc, wideLast] :
             {std::tuple{"Windows-1252", platform::Encoding::Ansi, false},
              std::tuple{"UTF-8", platform::Encoding::Utf8, false},
              std::tuple{"UTF-8, an \"Ω\" on the last line", platform::Encoding::Utf8, true}}) {
            // 65 bytes a line and its CR LF: 63.9 MiB, as large as the list's files come.
            QStringList padded = entries;
            if (wideLast) {
                for (QString &line : padded)
                    for (QChar &c : line)
                        if (c.unicode() > 0xFF) c = u'X';
                padded.last().prepend(u'Ω');
            }
            for (QString &line : padded) {
                const qsizetype extra =
                    enc == platform::Encoding::Utf8 ? line.toUtf8().size() - line.size() : 0;
                line = line.leftJustified(65 - extra, u'X', true);
            }
            printOpenPeak(work.filePath(QStringLiteral("stor.csv")), padded, enc, name);
        }
    }

    // Files of 1,000,000 very short lines, where what a line costs beside its bytes counts most,
    // and one of UTF-8 letters of two and three bytes.
    {
        QRandomGenerator random(11);
        const QString letters =
            QStringLiteral("abcdefghijklmnopqrstuvwxyzæøåABCDEFGHIJKLMNOPQRSTUVWXYZÆØÅ09");
        const QString wide = QStringLiteral("æøåÆØÅ€…—“”");
        QStringList tiny, wideLines, single, blank;
        for (int i = 0; i < 1000000; ++i) {
            single << QString(letters.at(random.bounded(int(letters.size()))));
            blank << (i == 0 ? QStringLiteral("a") : QString());
            QString line, w;
            for (int n = random.bounded(1, 4); n > 0; --n)
                line += letters.at(random.bounded(int(letters.size())));
            for (int n = random.bounded(5, 16); n > 0; --n)
                w += wide.at(random.bounded(int(wide.size())));
            tiny << line;
            wideLines << w;
        }
        const QString small = work.filePath(QStringLiteral("kort.csv"));
        for (const auto &[name, lines, enc] :
             {std::tuple{"1-3 letters, Windows-1252", &tiny, platform::Encoding::Ansi},
              std::tuple{"1-3 letters, UTF-8", &tiny, platform::Encoding::Utf8},
              std::tuple{"5-15 wide letters, UTF-8", &wideLines, platform::Encoding::Utf8},
              std::tuple{"1 letter, Windows-1252", &single, platform::Encoding::Ansi},
              std::tuple{"empty but the first, Windows-1252", &blank, platform::Encoding::Ansi}})
            printOpenPeak(small, *lines, enc, name);
    }

    // Hostile files: 64 MiB of nothing but line ends, refused; one entry of 32 MB, loaded.
    const std::pair<const char *, QByteArray> ends[] = {
        {"LF", "\n"}, {"CR", "\r"}, {"CR LF", "\r\n"}};
    for (const auto &[name, end] : ends) {
        const QString hostile = work.filePath(QStringLiteral("linjeskift.csv"));
        {
            QFile f(hostile);
            f.open(QIODevice::WriteOnly);
            f.write(end.repeated(int(platform::MaxTextFileSize / end.size())));
        }
        QElapsedTimer t;
        t.start();
        openFile(hostile);
        const double ms = double(t.nsecsElapsed()) / 1e6;
        print(qPrintable(QStringLiteral("refuse 64 MiB of bare %1").arg(QLatin1String(name))), ms,
              "ms", QStringLiteral("goal 1000 ms"));
        print("  peak memory it adds to the empty program", childPeakMb(hostile), "MB",
              QStringLiteral("goal 300 MB"));
        QFile::remove(hostile);
    }
    {
        const QString longFile = work.filePath(QStringLiteral("lang.csv"));
        writeBytes(longFile, "+B1=210.01-AB01," + QByteArray(32'000'000, 'A') + "\r\n");
        QElapsedTimer t;
        t.start();
        openFile(longFile);
        print("open one entry of 32 MB", double(t.nsecsElapsed()) / 1e6, "ms",
              QStringLiteral("reference"));
        // The first paint of the entry: opened again, as "Åpne" leaves it, before anything paints
        // it.
        list->replace({});
        QCoreApplication::processEvents();
        openLabelList(longFile, *list);
        t.restart();
        view->repaint();
        print("  first paint of the list", double(t.nsecsElapsed()) / 1e6, "ms",
              QStringLiteral("goal 50 ms"));
        print("  paint of the list, median of 10", timeMs(10, [&] { view->viewport()->repaint(); }),
              "ms", QStringLiteral("goal 50 ms"));
        view->setCurrentIndex(list->index(0, 0));
        // Each press, and what the presses leave behind in memory.
        const long before = statusKb("VmRSS:");
        const Peak peak;
        print(QStringLiteral("  read it back (\"Hent fra liste\") and paint, 20x"),
              timesMs(20,
                      [&] {
                          form->BitBtn5Click();
                          QCoreApplication::processEvents();
                          form->repaint();
                      }),
              QStringLiteral("goal 50 ms"));
        print("  peak memory a press adds (VmHWM)", peak.addedMb(), "MB",
              QStringLiteral("goal none"));
        print("  memory 20 presses leave (VmRSS)", double(statusKb("VmRSS:") - before) / 1024.0,
              "MB", QStringLiteral("goal none"));
        print("  peak memory the open adds to the empty program", childPeakMb(longFile), "MB",
              QStringLiteral("goal 96 MB, 3x the file"));
        FileDialog::setNextFileName(saved);
        TFMApplication::guarded([&] { form->BitBtn2Click(); });
        QFile in(longFile), out(saved);
        in.open(QIODevice::ReadOnly);
        out.open(QIODevice::ReadOnly);
        if (in.readAll() != out.readAll()) std::printf("  SAVED FILE DIFFERS\n");
        list->replace({});
    }

    // The searches on the built-in tables; the dialog is created, shown and answered at once.
    print("system search \"spesialsystem\" (dialog included)",
          timeMs(
              20, [&] { form->SpeedButton8Click(); },
              [] { answerNextInput(QStringLiteral("spesialsystem")); }),
          "ms", QStringLiteral("goal 16 ms"));
    print("system search without a hit (dialog included)",
          timeMs(
              20, [&] { form->SpeedButton8Click(); },
              [] { answerNextInput(QStringLiteral("finnes ikke")); }),
          "ms", QStringLiteral("goal 16 ms"));
    print("product search \"bjelk\" (dialog included)",
          timeMs(
              20, [&] { form->SpeedButton9Click(); },
              [] { answerNextInput(QStringLiteral("bjelk")); }),
          "ms", QStringLiteral("goal 16 ms"));
    print("next product (\"BJELK\", to the end and past it)",
          timeMs(20, [&] { form->ProduktNesteClick(); }), "ms", QStringLiteral("goal 16 ms"));
    answerNextInput(QStringLiteral("e"));
    form->SpeedButton8Click();
    print("next system (\"E\", a hit on nearly every line)",
          timeMs(50, [&] { form->SystemNesteClick(); }), "ms", QStringLiteral("goal 16 ms"));

    form->close();
    delete form;
    baseshutdown();
    return 0;
}
