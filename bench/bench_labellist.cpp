// bench_labellist: the label list with 100,000 entries made from the built-in code tables
// (open, save, add, delete, read back, resident memory) beside `sort -f` of the same file, and
// the two searches and their next buttons on the built-in tables. It prints figures and judges
// nothing.
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
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// The median time of one call, in milliseconds; before runs the untimed set-up of each.
double timeMs(int runs, const std::function<void()> &action,
              const std::function<void()> &before = [] {})
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
    return median(times);
}

void print(const char *what, double value, const char *unit, const QString &goal)
{
    std::printf("%-46s %10.3f %s   (%s)\n", what, value, unit, qPrintable(goal));
}

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// 100,000 labels with their texts, made from the built-in tables, in a shuffled order.
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
        LabelFields f{lok.at(random.bounded(int(lok.size()))), sys.at(random.bounded(int(sys.size()))), p,
                      QStringLiteral("%1").arg(random.bounded(1, 100), 2, 10, QChar(u'0')),
                      QStringLiteral("%1").arg(random.bounded(1, 100), 2, 10, QChar(u'0')),
                      random.bounded(4) == 0, QString()};
        out.append(composeLabel(f) + u',' + platform::upperCase(p.mid(3)));
    }
    return out;
}

// `sort -f` of the file in the named locale, the median of runs, in milliseconds.
double sortMs(const QString &file, const QString &locale, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess sort;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), locale);
        sort.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        sort.start(QStringLiteral("sort"), {QStringLiteral("-f"), file, QStringLiteral("-o"), file + QStringLiteral(".sorted")});
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
    QTemporaryDir appdata;
    QTemporaryDir work;
    qputenv("APPDATA", QFile::encodeName(appdata.path()));
    TFMApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::NorwegianBokmal, QLocale::Norway));
    QDir::setCurrent(work.path());
    basestartup(app.arguments());
    TFMApplication::setTitle(QStringLiteral("Kalvenor TFM"));
    auto *form = new TTFMform;
    form->show();
    QCoreApplication::processEvents();

    const int count = 100000;
    const QString file = work.filePath(QStringLiteral("stor-liste.csv"));
    const QString saved = work.filePath(QStringLiteral("lagret.csv"));
    platform::writeLines(file, makeEntries(count), platform::Encoding::Ansi);

    // The same file and the same (Norwegian) order for sort, in the code page the file is in.
    // (Debian's locales-all names the ISO-8859-1 Norwegian locale plain "nb_NO".)
    QString locale = QStringLiteral("nb_NO");
    QProcess probe;
    probe.start(QStringLiteral("locale"), {QStringLiteral("-a")});
    probe.waitForFinished();
    if (!QString::fromLatin1(probe.readAllStandardOutput()).split(u'\n').contains(locale))
        locale = QStringLiteral("C.UTF-8");
    std::printf("\n");
    std::printf("Kalvenor TFM label list: %d entries from the built-in tables (%lld bytes), headless\n",
                count, static_cast<long long>(QFile(file).size()));
    const double sortOpen = sortMs(file, locale, 5);
    print(qPrintable(QStringLiteral("sort -f of the same file (LC_ALL=%1)").arg(locale)), sortOpen, "ms", "reference");

    LabelListModel *list = form->labelList();
    QListView *view = form->findChild<QListView *>(QStringLiteral("MerkeListe"));
    const long before = residentKb();
    FileDialog::setNextFileName(file);
    QElapsedTimer first;
    first.start();
    form->BitBtn3Click();
    QCoreApplication::processEvents();
    const double firstOpen = double(first.nsecsElapsed()) / 1e6;
    const long after = residentKb();
    print("open (\"Åpne\"), first", firstOpen, "ms", QStringLiteral("goal %1 ms, 2x sort -f").arg(2 * sortOpen, 0, 'f', 1));
    print("open (\"Åpne\"), median of 5", timeMs(5, [&] { form->BitBtn3Click(); }, [&] { FileDialog::setNextFileName(file); }), "ms",
          QStringLiteral("goal %1 ms").arg(2 * sortOpen, 0, 'f', 1));
    print("resident memory the list adds", double(after - before) / 1024.0, "MB", QStringLiteral("goal 40 MB"));
    print("save (\"Lagre\"), median of 5", timeMs(5, [&] { form->BitBtn2Click(); }, [&] { FileDialog::setNextFileName(saved); }), "ms",
          QStringLiteral("goal %1 ms, sort -f").arg(sortOpen, 0, 'f', 1));

    print("add one entry (\"Legg til liste\")", timeMs(50, [&] { form->BitBtn1Click(); }), "ms", QStringLiteral("goal 16 ms"));
    auto selectMiddle = [&] {
        view->setCurrentIndex(list->index(list->count() / 2, 0));
    };
    print("delete one entry (Delete)", timeMs(50, [&] { form->MerkeListeKeyDown(Qt::Key_Delete, Qt::NoModifier); }, selectMiddle),
          "ms", QStringLiteral("goal 16 ms"));
    print("read one back (\"Hent fra liste\")", timeMs(50, [&] { form->BitBtn5Click(); }, selectMiddle), "ms", QStringLiteral("goal 16 ms"));

    // The searches on the built-in tables; the dialog is created, shown and answered at once.
    print("system search \"spesialsystem\" (dialog included)", timeMs(20, [&] { form->SpeedButton8Click(); },
          [] { answerNextInput(QStringLiteral("spesialsystem")); }), "ms", QStringLiteral("goal 16 ms"));
    print("system search without a hit (dialog included)", timeMs(20, [&] { form->SpeedButton8Click(); },
          [] { answerNextInput(QStringLiteral("finnes ikke")); }), "ms", QStringLiteral("goal 16 ms"));
    print("product search \"bjelk\" (dialog included)", timeMs(20, [&] { form->SpeedButton9Click(); },
          [] { answerNextInput(QStringLiteral("bjelk")); }), "ms", QStringLiteral("goal 16 ms"));
    print("next product (\"BJELK\", to the end and past it)", timeMs(20, [&] { form->ProduktNesteClick(); }), "ms",
          QStringLiteral("goal 16 ms"));
    answerNextInput(QStringLiteral("e"));
    form->SpeedButton8Click();
    print("next system (\"E\", a hit on nearly every line)", timeMs(50, [&] { form->SystemNesteClick(); }), "ms",
          QStringLiteral("goal 16 ms"));

    form->close();
    delete form;
    baseshutdown();
    return 0;
}
