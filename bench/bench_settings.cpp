// The settings store with large settings files: the start-up and shut-down of the base library
// over each file, its time and the memory it took, beside a start over a file of a few lines.
#include "hs_reg.h"
#include "platform.h"
#include "testsupport.h"
#include "textfil.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Figures {
    double ms = 0;
    double mb = 0;
    qint64 after = 0; // the file's size after the shut-down
};

double peakMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}

// One start and close over the file, in a child process of its own, so that each case's peak
// memory is its own.
Figures run(const QString &ini)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        ::alarm(120); // a case that takes longer shows as 0 ms
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly)) clear.write("5");
        clear.close();
        const double before = peakMb();
        QElapsedTimer timer;
        timer.start();
        textfilInitialization();
        hs_regInitialization({});
        hs_regFinalization();
        Figures f{double(timer.nsecsElapsed()) / 1e6, peakMb() - before, QFileInfo(ini).size()};
        [[maybe_unused]] auto n = ::write(pipeFds[1], &f, sizeof f);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    Figures f;
    [[maybe_unused]] auto n = ::read(pipeFds[0], &f, sizeof f);
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    return f;
}

QByteArray repeated(qint64 size, const std::function<QByteArray(qint64)> &line)
{
    QByteArray out;
    out.reserve(size + 256);
    for (qint64 i = 0; out.size() < size; ++i) out += line(i);
    return out.left(size);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 limit = platform::MaxTextFileSize - 1024;
    struct Case {
        const char *name;
        QByteArray bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"a few lines (a normal start)", "[STANDARD]\r\nLogToFile=0\r\n"});
    QByteArray sections;
    for (int i = 0; i < 1000000; ++i) sections += "[S" + QByteArray::number(i) + "]\r\nk=v\r\n";
    cases.push_back({"1,000,000 sections", sections});
    cases.push_back({"50 MB of keys in FOLDERS", "[FOLDERS]\r\n" + repeated(50000000, [](qint64 i) {
                                                     return "name" + QByteArray::number(i) +
                                                            "_folder=/x/" + QByteArray::number(i) +
                                                            "\r\n";
                                                 })});
    cases.push_back({"64 MiB of LF-ended sections", repeated(limit, [](qint64 i) {
                         return "[s" + QByteArray::number(i % 1000) + "]\nk=v\n";
                     })});
    cases.push_back({"64 MiB of LF", QByteArray(limit, '\n')});
    cases.push_back({"64 MiB of sections, each its own", repeated(limit, [](qint64 i) {
                         return "[" + QByteArray::number(i, 36) + "]\n";
                     })});
    cases.push_back({"64 MiB of keys, each its own, in STANDARD",
                     "[STANDARD]\n" + repeated(limit - 11, [](qint64 i) {
                         return QByteArray::number(i, 36) + "=\n";
                     })});
    // Many lines over a few names: the tables' slots are touched thinly, and must stay in
    // ordinary pages.
    cases.push_back({"64 MiB of sections of 1,296 names", repeated(limit, [](qint64 i) {
                         return "[" + QByteArray::number(i % 1296 + 1296, 36) + "]\n";
                     })});
    cases.push_back({"64 MiB of lines, a key in 4,096, in STANDARD",
                     "[STANDARD]\n" + repeated(limit - 11, [](qint64 i) {
                         return i % 4096 ? QByteArray("\n") : "k" + QByteArray::number(i) + "=\n";
                     })});
    cases.push_back({"64 MiB of lines without \"=\"",
                     "[TFM]\n" + repeated(limit - 6, [](qint64) { return QByteArray("k\n"); })});
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    std::printf("start and close of the base library over kalvenor.ini, median (max) of %d\n",
                runs);
    std::printf("goal: <= 1000 ms more than a normal start, <= 300 MB\n");
    // A second argument runs only the cases whose name holds it.
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    for (const Case &c : cases) {
        if (!only.isEmpty() && !QString::fromLatin1(c.name).contains(only)) continue;
        std::vector<double> ms, mb;
        qint64 after = 0;
        for (int r = 0; r < runs; ++r) {
            Sandbox box;
            const QString ini = box.appdata() + QStringLiteral("/Kalvenor/etc/kalvenor.ini");
            QDir().mkpath(box.appdata() + QStringLiteral("/Kalvenor/data"));
            writeBytes(ini, c.bytes);
            const Figures f = run(ini);
            ms.push_back(f.ms);
            mb.push_back(f.mb);
            after = f.after;
        }
        std::sort(ms.begin(), ms.end());
        std::sort(mb.begin(), mb.end());
        std::printf("  %-32s %9.1f MB file: %8.0f ms (%8.0f), %7.0f MB (%7.0f); after: %.1f MB\n",
                    c.name, c.bytes.size() / 1e6, ms[ms.size() / 2], ms.back(), mb[mb.size() / 2],
                    mb.back(), after / 1e6);
        std::fflush(stdout);
    }
    return 0;
}
