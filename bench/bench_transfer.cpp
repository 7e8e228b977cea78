// bench_transfer: how long the transfer window takes to upload and download a large file over
// loopback, beside the curl program moving the same file to the same server in the same run,
// how long one whole small-file transfer takes, and after how long a transfer that stands still
// fails under the program's own limits; and, with the server, the program and the curl program
// on one CPU (a busy machine), the median and the slowest of many small transfers. It prints
// figures and judges nothing.
#include "Felles.h"
#include "ftpclient.h"
#include "ftpserver.h"
#include "ftpunit.h"
#include "hs_reg.h"
#include "serveroppsett.h"
#include "testsupport.h"
#include "textfil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <vector>

namespace {

// Milliseconds of each of `runs` runs, fastest first.
std::vector<double> timed(int runs, const std::function<bool()> &run)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        if (!run()) {
            std::printf("  run failed\n");
            return {};
        }
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

void print(const char *what, const std::vector<double> &ms, double mib)
{
    if (ms.empty()) return;
    const double median = ms[ms.size() / 2];
    std::printf("  %-34s best %8.1f ms  median %8.1f ms", what, ms.front(), median);
    if (mib > 0) std::printf("  (%6.0f MiB/s at the median)", mib / (median / 1000));
    std::printf("\n");
}

void printSpread(const char *what, const std::vector<double> &ms)
{
    if (ms.empty()) return;
    std::printf("  %-34s median %8.1f ms  max %8.1f ms\n", what, ms[ms.size() / 2], ms.back());
}

bool curl(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral("curl"), QStringList{QStringLiteral("-sS")} + arguments);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void pointAt(const TestFtpServer &server)
{
    setinisection(QStringLiteral("SERVER-SETTING-FTP"));
    iniwritestring(QStringLiteral("server"), QStringLiteral("127.0.0.1"));
    iniwritestring(QStringLiteral("username"), TestFtpServer::user);
    iniwritestring(QStringLiteral("password"), encodestr(TestFtpServer::password));
    iniwriteint(QStringLiteral("port"), server.port());
    resetinisection();
}

// On a busy machine, this runs in a process of its own that is on CPU 0 alone from its start,
// so that its threads, the server and every curl program it starts share that CPU.
int hundredKilobytes(TFTPform &form, int runs, const char *where)
{
    TestFtpServer server;
    if (!server.start()) {
        std::printf("The FTP server did not start: %s\n", qPrintable(server.error()));
        return 1;
    }
    pointAt(server);
    QByteArray bytes(100 * 1024, Qt::Uninitialized);
    QRandomGenerator gen(7);
    gen.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    writeBytes(QStringLiteral("hundre.bin"), bytes);
    const QString url = QStringLiteral("ftp://127.0.0.1:%1/").arg(server.port());
    const QString login = TestFtpServer::user + u':' + TestFtpServer::password;
    std::printf("100 kB file, whole transfer, %s, %d runs each:\n", where, runs);
    printSpread("upload, transfer window", timed(runs, [&] {
                    form.SendFil(QStringLiteral("hundre.bin"));
                    return FTPFeilNr == 0;
                }));
    printSpread("upload, curl program", timed(runs, [&] {
                    return curl({"--user", login, "-T", "hundre.bin", url + "curl.bin"});
                }));
    printSpread("download, transfer window", timed(runs, [&] {
                    form.HentFil(QStringLiteral("hundre.bin"));
                    return FTPFeilNr == 0;
                }));
    printSpread("download, curl program", timed(runs, [&] {
                    return curl({"--user", login, "-o", "curl.bin", url + "hundre.bin"});
                }));
    if (readBytes(QStringLiteral("hundre.bin")) != bytes)
        std::printf("  DOWNLOADED FILE DIFFERS\n");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const bool pinned = argc > 1 && qstrcmp(argv[1], "--pinned") == 0;
    if (pinned) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(0, &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0) std::printf("  CPU 0 not taken\n");
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = !pinned && argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    Sandbox box;
    RecordingUi ui;
    textfilInitialization();
    hs_regInitialization({});
    logtofile = true;
    TFTPform form;
    TServerOppsettForm dialog;
    if (pinned) {
        const int result = hundredKilobytes(form, argc > 2 ? std::max(1, atoi(argv[2])) : 20,
                                            "server and program on CPU 0 alone");
        hs_regFinalization();
        return result;
    }

    TestFtpServer server;
    if (!server.start()) {
        std::printf("The FTP server did not start: %s\n", qPrintable(server.error()));
        return 1;
    }
    pointAt(server);

    const qsizetype size = 100 * 1024 * 1024;
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator gen(42);
    gen.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    writeBytes(QStringLiteral("stor.bin"), bytes);
    writeBytes(QStringLiteral("liten.txt"), QByteArray(1000, 'x'));
    const double mib = size / (1024.0 * 1024.0);
    const QString url = QStringLiteral("ftp://127.0.0.1:%1/").arg(server.port());
    const QString login = TestFtpServer::user + u':' + TestFtpServer::password;

    std::printf("FTP over loopback to pyftpdlib, %d runs each\n", runs);
    std::printf("100 MiB file:\n");
    print("upload, transfer window",
          timed(runs,
                [&] {
                    form.SendFil(QStringLiteral("stor.bin"));
                    return FTPFeilNr == 0;
                }),
          mib);
    print("upload, curl program",
          timed(runs,
                [&] {
                    return curl({"--user", login, "-T", "stor.bin", url + "curl.bin"});
                }),
          mib);
    print("download, transfer window",
          timed(runs,
                [&] {
                    form.HentFil(QStringLiteral("stor.bin"));
                    return FTPFeilNr == 0;
                }),
          mib);
    print("download, curl program",
          timed(runs,
                [&] {
                    return curl({"--user", login, "-o", "curl.bin", url + "stor.bin"});
                }),
          mib);
    if (readBytes(QStringLiteral("stor.bin")) != bytes) std::printf("  DOWNLOADED FILE DIFFERS\n");

    std::printf("1000-byte file, whole transfer (connect, log in, move, quit):\n");
    print("upload, transfer window",
          timed(runs * 4,
                [&] {
                    form.SendFil(QStringLiteral("liten.txt"));
                    return FTPFeilNr == 0;
                }),
          0);
    print("download, transfer window",
          timed(runs * 4,
                [&] {
                    form.HentFil(QStringLiteral("liten.txt"));
                    return FTPFeilNr == 0;
                }),
          0);
    print("download, curl program",
          timed(runs * 4,
                [&] {
                    return curl({"--user", login, "-o", "curl.txt", url + "liten.txt"});
                }),
          0);

    hundredKilobytes(form, 20, "server and program on any CPU");
    pointAt(server);
    std::fflush(stdout);
    QProcess busy;
    busy.setProcessChannelMode(QProcess::ForwardedChannels);
    busy.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--pinned")});
    if (!busy.waitForFinished(-1) || busy.exitCode() != 0) std::printf("  pinned run failed\n");

    // One run each, some 30 s apiece: the server sends or takes half of the file, then stops
    // for good.
    std::printf("Server that stops half-way, the program's limit of %ld s:\n",
                FtpClient::limits().stallSeconds);
    auto stalled = [&](const char *what, const std::function<void()> &run) {
        TestFtpServer stalling(QStringLiteral("stall"));
        if (!stalling.start()) {
            std::printf("  The FTP server did not start: %s\n", qPrintable(stalling.error()));
            return;
        }
        writeBytes(stalling.file(QStringLiteral("stor.bin")), bytes);
        setinisection(QStringLiteral("SERVER-SETTING-FTP"));
        iniwriteint(QStringLiteral("port"), stalling.port());
        resetinisection();
        QElapsedTimer t;
        t.start();
        // The last byte moved is when the count last grew.
        qint64 lastByte = 0;
        const auto c = QObject::connect(form.IdFTP1, &FtpClient::work,
                                        [&](std::int64_t) { lastByte = t.elapsed(); });
        run();
        const qint64 total = t.elapsed();
        QObject::disconnect(c);
        std::printf("  %-34s fails %6.1f s after the last byte (%.1f s in all), error %d\n", what,
                    (total - lastByte) / 1000.0, total / 1000.0, int(FTPFeilNr));
    };
    stalled("download, transfer window", [&] { form.HentFil(QStringLiteral("stor.bin")); });
    stalled("upload, transfer window", [&] {
        try {
            form.SendFil(QStringLiteral("stor.bin"));
        } catch (const std::exception &) {
            // A failed store reaches the caller; the error number tells it here.
        }
    });

    hs_regFinalization();
    return 0;
}
