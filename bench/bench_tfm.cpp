// bench_tfm: how long the built program takes from its start to its first window on a desktop
// (Xvfb and openbox), and from a window manager's close to its exit, set against a bare Qt
// program that shows the same form; where its start goes; how often one start writes the
// settings files; how long its main actions take on the built-in code tables, and on a product
// list of 10,000 and 100,000 rows; and its start with such a list. It prints figures and judges
// nothing. `bench_tfm --code-lists` runs the code-list parts alone.
#include "TFM.h"
#include "ftpunit.h"
#include "hs_reg.h"
#include "inifile.h"
#include "platform.h"
#include "serveroppsett.h"
#include "startup.h"
#include "textfil.h"
#include "tfmapplication.h"
#include "tfmcombobox.h"
#include "tfmcore.h"
#include "widgetsinterface.h"
#include "xmldata.h"
#include "xstart.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

// The most memory the process has held so far (VmHWM), in kB.
long long peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

void stage(const char *name)
{
    std::printf("%s %lld\n", name, static_cast<long long>(monotonicNs()));
}

// Stamps "requested" at the first font change of the caption it watches.
class MapRequested final : public QObject {
  protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::FontChange && !m_seen) {
            m_seen = true;
            stage("requested");
        }
        return false;
    }

  private:
    bool m_seen = false;
};

// The program's entry step by step as the built program runs it, each step's end printed: the
// base start-up's three units apart, the windows, the message loop, the shut-down.
int child(int argc, char **argv)
{
    QStringList arguments;
    bool boxes = true;
    for (int i = 0; i < argc; ++i) {
        // Without boxes, a box goes to standard error and the start goes on, as no user waits.
        if (qstrcmp(argv[i], "--no-boxes") == 0)
            boxes = false;
        else if (qstrcmp(argv[i], "--bench-child") != 0)
            arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    TFMApplication app(argc, argv);
    stage("app");
    if (boxes) platform::installWidgetsUserInterface();
    TFMApplication::closeMainWindowOnEndRequest();
    stage("ui");
    textfilInitialization();
    stage("textfil");
    hs_regInitialization(arguments.mid(1));
    stage("hs_reg");
    xmldataInitialization();
    stage("xmldata");
    TFMApplication::setTitle(QStringLiteral("Kalvenor TFM"));
    auto *form = new TTFMform;
    stage("form");
    // The window finishes its captions and lists once its map request is out, and the first
    // caption's font change is where that begins.
    MapRequested mapRequested;
    form->findChild<QLabel *>(QStringLiteral("Label1"))->installEventFilter(&mapRequested);
    form->show();
    stage("show");
    std::fflush(stdout);
    // As the program does: the hidden windows on the loop's first turn.
    std::unique_ptr<TFTPform> transfer;
    QTimer::singleShot(0, form, [&transfer, form] {
        transfer = std::make_unique<TFTPform>();
        stage("transfer");
        new TServerOppsettForm(form);
        stage("dialog");
        std::fflush(stdout);
    });
    const int result = TFMApplication::runMainLoop();
    stage("loop");
    transfer.reset();
    delete form;
    baseshutdown();
    stage("shutdown");
    std::printf("peak-kb %lld\n", peakKb());
    std::fflush(stdout);
    return result;
}

// Settings files written in a folder while it lives: every write-back renames a finished
// temporary file onto the file's name, so each such rename is one write.
class SettingsWrites {
  public:
    explicit SettingsWrites(const QString &folder) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        // The temporary files' own events come between the renames: two alike in a row would
        // be merged into one.
        inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_CREATE | IN_MOVED_TO);
    }
    ~SettingsWrites() { ::close(m_fd); }
    SettingsWrites(const SettingsWrites &) = delete;
    SettingsWrites &operator=(const SettingsWrites &) = delete;

    int count()
    {
        int n = 0;
        alignas(inotify_event) char buffer[65536];
        ssize_t got;
        while ((got = ::read(m_fd, buffer, sizeof buffer)) > 0) {
            for (char *p = buffer; p < buffer + got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(p);
                if ((event->mask & IN_MOVED_TO) && event->len &&
                    QByteArray(event->name).toLower().endsWith(".ini"))
                    ++n;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return n;
    }

  private:
    int m_fd;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

struct Spread {
    double median, low, high;
};

Spread spread(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    if (v.empty()) return {0, 0, 0};
    return {v[v.size() / 2], v.front(), v.back()};
}

// The median time of one call, in milliseconds.
double timeMs(int runs, const std::function<void()> &action)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        action();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

void print(const char *what, double ms, double goal)
{
    std::printf("%-44s %8.4f ms   (goal %g ms)\n", what, ms, goal);
}

void printPart(const char *what, double ms) { std::printf("  %-52s %7.2f ms\n", what, ms); }

// The stages a process printed, in milliseconds after its start.
std::map<std::string, double> stagesOf(const XStartDisplay::Run &run)
{
    std::map<std::string, double> stages;
    for (const QByteArray &line : run.output.split('\n')) {
        const QList<QByteArray> parts = line.trimmed().split(' ');
        if (parts.size() == 2)
            stages[parts[0].toStdString()] = double(parts[1].toLongLong() - run.startNs) / 1e6;
    }
    return stages;
}

// The stamps of a start are to the second: a start counted for its writes gets a second of its
// own, as every start of a user's does, so its new stamps are written.
void waitForNextSecond()
{
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    while (QDateTime::currentSecsSinceEpoch() == second) QThread::msleep(10);
}

// The program and the bare form on one desktop, taking turns so that both meet the same
// machine; then the program's entry step by step.
void desktopStart(const QString &self, const QString &program, const QString &appdata,
                  const QString &work)
{
    XStartDisplay desktop;
    if (!desktop.ok()) {
        std::printf("desktop start: no Xvfb and openbox to be had; not measured\n\n");
        return;
    }
    const QString bareform = QStringLiteral(KALVENOR_BAREFORM);
    const QStringList env{QStringLiteral("APPDATA=") + appdata};
    const QString etc = appdata + QStringLiteral("/Kalvenor/etc");
    QDir().mkpath(etc); // so that it is watched from the first start on

    std::printf("Desktop start on %s (Xvfb, openbox): %s, APPDATA a new folder\n",
                desktop.display().constData(), qPrintable(program));
    int firstWrites = 0, laterWrites = 0;
    {
        SettingsWrites writes(etc);
        const XStartDisplay::Run first = desktop.run(program, {}, work, env);
        firstWrites = writes.count();
        std::printf("first start: first window mapped after %.1f ms, closed to exit %.1f ms%s\n",
                    first.mapMs, first.closeMs, first.ended ? "" : "  (did not end by itself)");
    }
    // Warm-up of both, uncounted: the first runs on a new display pay for its caches.
    desktop.run(bareform, {}, work, env);
    desktop.run(program, {}, work, env);

    constexpr int Runs = 15;
    std::vector<double> progMap, bareMap, progClose, bareClose, progTotal, bareTotal, pairs;
    int failed = 0;
    for (int i = 0; i < Runs; ++i) {
        if (i == 0) waitForNextSecond();
        SettingsWrites writes(etc);
        const XStartDisplay::Run p = desktop.run(program, {}, work, env);
        if (i == 0) laterWrites = writes.count();
        const XStartDisplay::Run b = desktop.run(bareform, {}, work, env);
        if (!p.mapped || !b.mapped || !p.ended || !b.ended) ++failed;
        progMap.push_back(p.mapMs);
        bareMap.push_back(b.mapMs);
        progClose.push_back(p.closeMs);
        bareClose.push_back(b.closeMs);
        progTotal.push_back(p.totalMs);
        bareTotal.push_back(b.totalMs);
        pairs.push_back(p.mapMs / b.mapMs);
    }
    const auto row = [](const char *what, const std::vector<double> &v) {
        const Spread s = spread(v);
        std::printf("  %-40s %7.1f ms   (%.1f to %.1f)\n", what, s.median, s.low, s.high);
    };
    std::printf("later starts, median of %d interleaved pairs (lowest to highest)%s:\n", Runs,
                failed ? "  SOME RUNS FAILED" : "");
    row("start to first map: the program", progMap);
    row("start to first map: the bare form", bareMap);
    const Spread pr = spread(pairs);
    std::printf("  %-40s %7.2fx     (goal: 1.15x at most; pairs %.2fx to %.2fx)\n", "ratio",
                median(progMap) / median(bareMap), pr.low, pr.high);
    row("window manager's close to exit: program", progClose);
    row("window manager's close to exit: bare", bareClose);
    std::printf("  %-40s %7.2fx\n", "ratio", median(progClose) / median(bareClose));
    row("whole process: the program", progTotal);
    row("whole process: the bare form", bareTotal);
    std::printf("settings-file writes in one start and close: first start %d, later start %d\n",
                firstWrites, laterWrites);

    // The same entry with a stamp after each step, under the same desktop, beside the bare
    // form's stamps.
    std::map<std::string, std::vector<double>> steps, bare;
    for (int i = 0; i < Runs; ++i) {
        const XStartDisplay::Run p =
            desktop.run(self, {QStringLiteral("--bench-child")}, work, env);
        for (const auto &[name, ms] : stagesOf(p)) steps[name].push_back(ms);
        steps["mapped"].push_back(p.mapMs);
        const XStartDisplay::Run b = desktop.run(bareform, {}, work, env);
        for (const auto &[name, ms] : stagesOf(b)) bare[name].push_back(ms);
        bare["mapped"].push_back(b.mapMs);
    }
    std::printf("where the program's start goes (medians of %d; ms after the start, and since the "
                "step before):\n",
                Runs);
    double before = 0;
    for (const char *name : {"app", "ui", "textfil", "hs_reg", "xmldata", "form", "requested",
                             "show", "mapped", "transfer", "dialog"}) {
        const double t = median(steps[name]);
        std::printf("  %-10s %7.1f   +%6.1f\n", name, t, t - before);
        before = t;
    }
    std::printf("  the bare form: app %.1f, form %.1f, shown %.1f, mapped %.1f\n\n",
                median(bare["app"]), median(bare["form"]), median(bare["shown"]),
                median(bare["mapped"]));
}

// A product list of the given number of rows: the built-in rows over and over, each made a row
// of its own by a number; with a row of longRow characters in the middle where it is not 0.
QStringList productRows(int rows, qsizetype longRow = 0)
{
    const QStringList &table = builtInTable(CodeTable::Produkt);
    QStringList out;
    out.reserve(rows);
    for (int i = 0; i < rows; ++i)
        out.append(i < table.size() ? table.at(i)
                                    : table.at(i % table.size()) + u' ' + QString::number(i));
    if (longRow > 0) out[rows / 2] = QStringLiteral("SA ") + QString(longRow - 3, u'x');
    return out;
}

// The start of the program with its product list as shipped, at 100,000 rows, and as 64 MiB of
// line ends (refused with a box, which goes to standard error here): start to first map and the
// peak memory of the run, from the entry run step by step.
void codeListStarts(const QString &self, const QString &work)
{
    XStartDisplay desktop;
    if (!desktop.ok()) {
        std::printf("starts with large code lists: no Xvfb and openbox; not measured\n\n");
        return;
    }
    struct Case {
        const char *name;
        QTemporaryDir appdata;
        std::vector<double> map, peak;
    };
    Case cases[3] = {{"code lists as shipped", {}, {}, {}},
                     {"tfm-produkt.txt of 100,000 rows", {}, {}, {}},
                     {"tfm-produkt.txt of 64 MiB of LF", {}, {}, {}}};
    for (int c = 0; c < 3; ++c) {
        const QString data = cases[c].appdata.path() + QStringLiteral("/Kalvenor/data/tfm/");
        QDir().mkpath(data);
        const QString produkt = data + QStringLiteral("tfm-produkt.txt");
        if (c == 1) platform::writeLines(produkt, productRows(100'000), platform::Encoding::Ansi);
        if (c == 2) {
            QFile f(produkt);
            f.open(QIODevice::WriteOnly);
            const QByteArray block(1 << 20, '\n');
            for (int i = 0; i < 64; ++i) f.write(block);
        }
    }
    const auto env = [](const Case &c) {
        return QStringList{QStringLiteral("APPDATA=") + c.appdata.path()};
    };
    const QStringList arguments{QStringLiteral("--bench-child"), QStringLiteral("--no-boxes")};
    for (Case &c : cases) desktop.run(self, arguments, work, env(c));
    constexpr int Runs = 5;
    for (int i = 0; i < Runs; ++i) {
        for (Case &c : cases) {
            const XStartDisplay::Run r = desktop.run(self, arguments, work, env(c));
            c.map.push_back(r.mapMs);
            for (const QByteArray &line : r.output.split('\n'))
                if (line.startsWith("peak-kb ")) c.peak.push_back(line.mid(8).toDouble() / 1024);
        }
    }
    std::printf("Starts with large code lists (desktop, median of %d interleaved; highest):\n",
                Runs);
    const double normal = median(cases[0].map);
    for (const Case &c : cases) {
        const Spread m = spread(c.map), p = spread(c.peak);
        std::printf("  %-34s map %7.1f ms (%.1f) = %.2fx normal   peak %6.1f MB (%.1f)\n", c.name,
                    m.median, m.high, m.median / normal, p.median, p.high);
    }
    std::printf("  (goals: 100,000 rows at most 2x normal; 64 MiB of LF within 1 s of normal, "
                "at most 300 MB)\n\n");
}

// The pieces of the start that the steps above hold, each alone and repeated, in this process.
void startPieces(TTFMform *form)
{
    std::printf("pieces of the start, each alone (medians, headless):\n");
    printPart("settings file read (IniDocument of kalvenor.ini)",
              timeMs(20, [] { IniDocument doc(ininame); }));
    {
        QTemporaryDir dir;
        IniDocument doc(ininame);
        doc.setFileName(dir.filePath(QStringLiteral("kalvenor.ini")));
        int n = 0;
        printPart("settings file written back, changed (with its sync)", timeMs(20, [&] {
                      doc.writeString(QStringLiteral("INI_SELF"), QStringLiteral("MODIFIED_TIME"),
                                      QString::number(++n));
                      doc.updateFile();
                  }));
        printPart("settings file written back, unchanged", timeMs(20, [&] { doc.updateFile(); }));
    }
    printPart("per-user file opened and closed (no change)", timeMs(20, [] {
                  openuserini();
                  closeuserini();
              }));
    printPart("log file read (loadloglines)", timeMs(20, [] { loadloglines(); }));
    printPart("folder lookup of data\\tfm (kalvenorpath)",
              timeMs(20, [] { kalvenorpath(QStringLiteral("data\\tfm")); }));
    printPart("code-list files checked (FormCreate, all there)",
              timeMs(20, [form] { form->FormCreate(); }));
    printPart("five code lists read (LoadTFM)", timeMs(20, [form] { form->LoadTFM(); }));
    printPart("transfer window created and deleted", timeMs(10, [] { delete new TFTPform; }));
    printPart("server-settings dialog created and deleted",
              timeMs(10, [form] { delete new TServerOppsettForm(form); }));
    std::printf("\n");
}

// The median of runs timed calls of action, each after an untimed call of setup, in ms.
double timeAfter(int runs, const std::function<void()> &setup, const std::function<void()> &action)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        setup();
        QElapsedTimer t;
        t.start();
        action();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

// The actions whose cost grows with a code list, on a product list as shipped, of 10,000 and of
// 100,000 rows, and on the shipped rows with one row of 1 MB.
void largeLists(TTFMform *form)
{
    TFMComboBox *produkt = form->findChild<TFMComboBox *>("Produkt");
    TFMComboBox *produktCombo = form->findChild<TFMComboBox *>("ProduktCombo");
    auto *editButton = form->findChild<QToolButton *>("SpeedButton5");
    const QString path = codeListPath(QStringLiteral("tfm-produkt.txt"));
    const QByteArray shipped = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    struct Size {
        const char *name;
        int rows;
        qsizetype longRow;
        double goal;
    };
    const Size sizes[] = {{"305 rows (as shipped)", 305, 0, 16},
                          {"10,000 rows", 10'000, 0, 16},
                          {"100,000 rows", 100'000, 0, 50},
                          {"305 rows, one of 1 MB", 305, 1 << 20, 16}};
    constexpr int Runs = 5;
    std::printf("\nThe product list at size (headless, median of %d):\n", Runs);
    for (const Size &size : sizes) {
        platform::writeLines(path, productRows(size.rows, size.longRow), platform::Encoding::Ansi);
        std::printf(" %s:\n", size.name);
        const auto row = [&](const char *what, double ms) {
            std::printf("  %-42s %8.2f ms   (goal %g ms)\n", what, ms, size.goal);
        };
        row("opening the drop-down after a reload", timeAfter(
                                                        Runs,
                                                        [&] {
                                                            produkt->hidePopup();
                                                            form->LoadTFM();
                                                            QCoreApplication::processEvents();
                                                        },
                                                        [&] {
                                                            produkt->showPopup();
                                                            QCoreApplication::processEvents();
                                                        }));
        produkt->hidePopup();
        QCoreApplication::processEvents();
        row("product group filter \"S. STENGENDE\"",
            timeAfter(
                Runs, [&] { produktCombo->selectIndex(17); },
                [&] { form->ProduktComboCloseUp(); }));
        row("the edit button's reload", timeAfter(
                                            Runs, [] {}, [&] { editButton->click(); }));
    }
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(shipped);
    form->LoadTFM();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--bench-child") == 0) return child(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");

    QTemporaryDir appdata;
    QTemporaryDir work;
    const QString self = QFileInfo(QString::fromLocal8Bit(argv[0])).absoluteFilePath();
    // Another build of the program may be named, to set its start beside this one's.
    const QString program = argc > 1 ? QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath()
                                     : QStringLiteral(KALVENOR_PROGRAM);
    // "--code-lists" measures only what grows with a code list.
    const bool listsOnly = argc > 1 && qstrcmp(argv[1], "--code-lists") == 0;
    // "--start" measures only the start on the desktop.
    const bool startOnly = argc > 1 && qstrcmp(argv[1], "--start") == 0;
    const bool argumentProgram = argc > 1 && !listsOnly && !startOnly;
    if (!listsOnly)
        desktopStart(self, argumentProgram ? program : QStringLiteral(KALVENOR_PROGRAM),
                     appdata.path(), work.path());
    if (startOnly) return 0;

    std::printf("Main actions (headless, built-in code tables)\n");
    qputenv("APPDATA", QFile::encodeName(appdata.path()));
    TFMApplication app(argc, argv);
    QDir::setCurrent(work.path());
    TTFMform *form = TFMApplication::startMainWindow(app.arguments());
    QCoreApplication::processEvents();
    if (!listsOnly) startPieces(form);

    if (listsOnly) {
        largeLists(form);
        form->close();
        delete form;
        baseshutdown();
        codeListStarts(self, work.path());
        return 0;
    }
    auto box = [form](const char *name) { return form->findChild<TFMComboBox *>(name); };
    TFMComboBox *systemCombo = box("SystemCombo");
    TFMComboBox *underCombo = box("SystemUnderCOmbo");
    TFMComboBox *produktCombo = box("ProduktCombo");
    box("Lokalisering")->setText(QStringLiteral("B1 BYGG 1"));
    box("System")->setText(QStringLiteral("210 Grunn og fundamenter, generelt"));
    box("Produkt")->setText(QStringLiteral("AB Bjelker, Drager, Dip, Bæring"));

    // A running number typed anew: its change event composes a new label.
    QLineEdit *nr1 = form->findChild<QLineEdit *>("Nr1");
    int n = 0;
    print("compose on a field change",
          timeMs(200, [&] { nr1->setText(++n % 2 ? QStringLiteral("02") : QStringLiteral("01")); }),
          16);
    print("system main-group filter \"2. BYGNING\"",
          timeMs(50,
                 [&] {
                     systemCombo->selectIndex(1);
                     form->SystemComboCloseUp();
                 }),
          16);
    print("sub-group filter \"21. GRUNN OG FUNDAMENT\"",
          timeMs(50,
                 [&] {
                     underCombo->selectIndex(
                         underCombo->findText(QStringLiteral("21. GRUNN OG FUNDAMENT")));
                     form->SystemUnderCOmboCloseUp();
                 }),
          16);
    print("product main-group filter \"S. STENGENDE\"",
          timeMs(50,
                 [&] {
                     produktCombo->selectIndex(17);
                     form->ProduktComboCloseUp();
                 }),
          16);
    form->LoadTFM();
    box("System")->setText(QStringLiteral("552 Lyd"));
    print("FixSystem", timeMs(200, [&] { form->FixSystem(); }), 16);
    print("reload of the five lists (LoadTFM)", timeMs(20, [&] { form->LoadTFM(); }), 16);

    largeLists(form);

    form->close();
    delete form;
    baseshutdown();
    if (!argumentProgram) codeListStarts(self, work.path());
    return 0;
}
