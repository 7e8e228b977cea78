// bench_tfm: how long the composer takes to show its window, and how long its main actions
// take on the built-in code tables. It prints figures and judges nothing.
#include "TFM.h"
#include "startup.h"
#include "tfmapplication.h"
#include "tfmcombobox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

std::int64_t monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The program's own start, up to the shown window; prints the moment it was shown.
int child(int argc, char **argv)
{
    TFMApplication app(argc, argv);
    basestartup(app.arguments());
    TFMApplication::setTitle(QStringLiteral("Kalvenor TFM"));
    auto *form = new TTFMform;
    form->show();
    QCoreApplication::processEvents();
    std::printf("%lld\n", static_cast<long long>(monotonicNs()));
    std::fflush(stdout);
    form->close();
    delete form;
    baseshutdown();
    return 0;
}

double startMs(const QString &program, const QString &work)
{
    QProcess process;
    process.setWorkingDirectory(work);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const std::int64_t begin = monotonicNs();
    process.start(program, {QStringLiteral("--bench-child")});
    process.waitForFinished(30000);
    const long long shown = process.readAllStandardOutput().trimmed().toLongLong();
    return shown > 0 ? double(shown - begin) / 1e6 : -1.0;
}

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
    print("start to window shown, first start", startMs(self, work.path()), 150);
    std::vector<double> starts;
    for (int i = 0; i < 5; ++i) starts.push_back(startMs(self, work.path()));
    print("start to window shown, later start (median)", median(starts), 150);

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
