// bench_bareform: the yardstick for the composer's start: a bare Qt program that shows the same
// form from resources/TFMform.ui, with no base library and none of the composer's own code.
// Run by bench_tfm, it prints when each stage of its start was reached, and runs until its
// window is closed, as the program does.
#include "ui_TFMform.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <ctime>

namespace {

void stage(const char *name)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    std::printf("%s %lld\n", name, static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    stage("app");
    QWidget form;
    Ui::TTFMform ui;
    ui.setupUi(&form);
    stage("form");
    form.show();
    QCoreApplication::processEvents();
    stage("shown");
    std::fflush(stdout);
    return app.exec();
}
