// Ostrel: the program entry of Kalvenor TFM: the base library's start-up, the windows, the
// message loop and the shut-down.
#include "TFM.h"
#include "ftpunit.h"
#include "platform.h"
#include "serveroppsett.h"
#include "startup.h"
#include "tfmapplication.h"
#include "widgetsinterface.h"

#include <QStringList>
#include <QTimer>

#include <memory>

int main(int argc, char *argv[])
{
    // Qt takes the options it knows ("-reverse", "-style x", ...) out of argv as the application
    // is made; the switches see every argument, since a user name may well be one of those.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));

    // The window library starts before the units and ends after them.
    TFMApplication app(argc, argv);
    platform::installWidgetsUserInterface();
    TFMApplication::closeMainWindowOnEndRequest();
    TTFMform *form = TFMApplication::startMainWindow(arguments);
    // The transfer window and the server-settings dialog wait hidden until program code needs
    // them, so they are made on the loop's first turn, after the main window has gone out; the
    // dialog opens centred over the main window. An end request before that turn skips them.
    std::unique_ptr<TFTPform> transfer;
    QTimer::singleShot(0, form, [&transfer, form] {
        transfer = std::make_unique<TFTPform>();
        new TServerOppsettForm(form);
    });
    const int result = TFMApplication::runMainLoop();
    transfer.reset();
    delete form;

    baseshutdown();
    return result;
}
