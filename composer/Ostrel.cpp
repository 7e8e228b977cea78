// Ostrel: the program entry of Kalvenor TFM: the base library's start-up, the windows, the
// message loop and the shut-down.
#include "TFM.h"
#include "platform.h"
#include "startup.h"
#include "tfmapplication.h"

int main(int argc, char *argv[])
{
    // The window library starts before the units and ends after them.
    TFMApplication app(argc, argv);
    platform::installWidgetsUserInterface();
    basestartup(app.arguments());

    TFMApplication::setTitle(QStringLiteral("Kalvenor TFM"));
    // The first window created is the main window; closing it ends the message loop.
    auto *form = new TTFMform;
    form->show();
    const int result = app.exec();
    delete form;

    baseshutdown();
    return result;
}
