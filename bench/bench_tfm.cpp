// bench_tfm: how long the composer takes to show its window, set against a bare Qt program
// that shows the same form, how often one start writes the settings files, and how long its
// main actions take on the built-in code tables. It prints figures and judges nothing.
#include "TFM.h"
#include "startup.h"
#include "tfmapplication.h"
#include "tfmcombobox.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

std::int64_t monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void stage(const char *name)
{
    std::printf("%s %lld\n", name, static_cast<long long>(monotonicNs()));
}

// The program's own start as its entry runs it, up to the shown window, and its end; prints
// when each stage was reached.
int child(int argc, char **argv)
{
    TFMApplication app(argc, argv);
    stage("app");
    basestartup(app.arguments());
    stage("startup");
    TFMApplication::setTitle(QStringLiteral("Kalvenor TFM"));
    auto *form = new TTFMform;
    stage("form");
    form->show();
    QCoreApplication::processEvents();
    stage("shown");
    form->close();
    delete form;
    stage("closed");
    baseshutdown();
    stage("shutdown");
    std::fflush(stdout);
    return 0;
}

using Stages = std::map<std::string, double>;

// One whole process, from its start to its exit: when it reached each stage it printed, and
// when it ended, in milliseconds after the start.
Stages runOnce(const QString &program, const QStringList &arguments, const QString &work)
{
    QProcess process;
    process.setWorkingDirectory(work);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const std::int64_t begin = monotonicNs();
    process.start(program, arguments);
    process.waitForFinished(30000);
    const std::int64_t end = monotonicNs();
    Stages stages;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.trimmed().split(' ');
        if (parts.size() == 2)
            stages[parts[0].toStdString()] = double(parts[1].toLongLong() - begin) / 1e6;
    }
    stages["exit"] = double(end - begin) / 1e6;
    return stages;
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

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && qstrcmp(argv[1], "--bench-child") == 0) return child(argc, argv);

    QTemporaryDir appdata;
    QTemporaryDir work;
    qputenv("APPDATA", QFile::encodeName(appdata.path()));
    const QString self = QFileInfo(QString::fromLocal8Bit(argv[0])).absoluteFilePath();

    std::printf("Kalvenor TFM benchmark (headless, built-in code tables)\n");
    const QStringList childArgs{QStringLiteral("--bench-child")};
    const QString etc = appdata.path() + QStringLiteral("/Kalvenor/etc");
    QDir().mkpath(etc); // so that it is watched from the first start on

    int firstWrites = 0;
    {
        SettingsWrites writes(etc);
        const Stages first = runOnce(self, childArgs, work.path());
        firstWrites = writes.count();
        std::printf("first start: window shown after %.1f ms, process ended after %.1f ms\n",
                    first.at("shown"), first.at("exit"));
    }

    // Later starts, the program and the bare form taking turns, so that both meet the same
    // machine; the median of 15 each.
    constexpr int Runs = 15;
    std::map<std::string, std::vector<double>> program, bare;
    int laterWrites = 0;
    for (int i = 0; i < Runs; ++i) {
        // The stamps of a start are to the second: the counted start gets a second of its own,
        // as every start of a user's does, so its new stamps are written.
        if (i == 0) {
            const qint64 second = QDateTime::currentSecsSinceEpoch();
            while (QDateTime::currentSecsSinceEpoch() == second) QThread::msleep(10);
        }
        SettingsWrites writes(etc);
        for (const auto &[name, ms] : runOnce(self, childArgs, work.path()))
            program[name].push_back(ms);
        if (i == 0) laterWrites = writes.count();
        for (const auto &[name, ms] : runOnce(QStringLiteral(KALVENOR_BAREFORM), {}, work.path()))
            bare[name].push_back(ms);
    }
    const auto at = [](std::map<std::string, std::vector<double>> &m, const char *name) {
        return median(m[name]);
    };
    std::printf("later start, whole process (start, show, exit), median of %d:\n", Runs);
    std::printf("  %-38s %8.1f ms\n", "the program", at(program, "exit"));
    std::printf("  %-38s %8.1f ms\n", "the bare form (TFMform.ui, Qt only)", at(bare, "exit"));
    std::printf("  %-38s %8.2fx   (goal: 1.3x at most)\n", "ratio",
                at(program, "exit") / at(bare, "exit"));
    std::printf("later start, start to window shown, median of %d:\n", Runs);
    std::printf("  %-38s %8.1f ms\n", "the program", at(program, "shown"));
    std::printf("  %-38s %8.1f ms\n", "the bare form", at(bare, "shown"));
    std::printf("  %-38s %8.2fx\n", "ratio", at(program, "shown") / at(bare, "shown"));
    std::printf("where the program's time goes (medians; ms after the start, and since the stage "
                "before):\n");
    double before = 0;
    for (const char *name : {"app", "startup", "form", "shown", "closed", "shutdown", "exit"}) {
        const double t = at(program, name);
        std::printf("  %-10s %7.1f   +%6.1f\n", name, t, t - before);
        before = t;
    }
    std::printf("  the bare form: app %.1f, form %.1f, shown %.1f, exit %.1f\n", at(bare, "app"),
                at(bare, "form"), at(bare, "shown"), at(bare, "exit"));
    std::printf("settings-file writes in one start and close: first start %d, later start %d\n\n",
                firstWrites, laterWrites);

    TFMApplication app(argc, argv);
    QDir::setCurrent(work.path());
    basestartup(app.arguments());
    TFMApplication::setTitle(QStringLiteral("Kalvenor TFM"));
    auto *form = new TTFMform;
    form->show();
    QCoreApplication::processEvents();

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
    print("compose on a field change", timeMs(200, [&] {
              nr1->setText(++n % 2 ? QStringLiteral("02") : QStringLiteral("01"));
          }), 16);
    print("system main-group filter \"2. BYGNING\"", timeMs(50, [&] {
              systemCombo->selectIndex(1);
              form->SystemComboCloseUp();
          }), 16);
    print("sub-group filter \"21. GRUNN OG FUNDAMENT\"", timeMs(50, [&] {
              underCombo->selectIndex(underCombo->findText(QStringLiteral("21. GRUNN OG FUNDAMENT")));
              form->SystemUnderCOmboCloseUp();
          }), 16);
    print("product main-group filter \"S. STENGENDE\"", timeMs(50, [&] {
              produktCombo->selectIndex(17);
              form->ProduktComboCloseUp();
          }), 16);
    form->LoadTFM();
    box("System")->setText(QStringLiteral("552 Lyd"));
    print("FixSystem", timeMs(200, [&] { form->FixSystem(); }), 16);
    print("reload of the five lists (LoadTFM)", timeMs(20, [&] { form->LoadTFM(); }), 16);

    form->close();
    delete form;
    baseshutdown();
    return 0;
}
