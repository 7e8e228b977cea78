// TFMApplication: the application object of the composer; errors that escape an event handler
// are caught here, in one place, and shown in an error box while the program goes on.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <utility>

class TTFMform;

class TFMApplication : public QApplication {
  public:
    TFMApplication(int &argc, char **argv);

    // The application title: the caption of the error boxes.
    static QString title();
    static void setTitle(const QString &title);

    bool notify(QObject *receiver, QEvent *event) override;

    // A request to end from outside (a logout, a shutdown) closes the main window as the
    // user's close does, so that the shut-down runs in its order. Installed before the
    // start-up; a request that comes before the main loop runs waits for it, and a box that
    // waits for an answer gets the one its Escape key gives.
    static void closeMainWindowOnEndRequest();
    // The main message loop, the one a request to end closes the main window from.
    static int runMainLoop();

    // The program's start as every caller makes it: the base start-up on arguments, the title,
    // and the main window created and shown. The first window created is the main window;
    // closing it ends the message loop.
    static TTFMform *startMainWindow(const QStringList &arguments);

    // Shows an error that ended a handler: error icon, the title as caption.
    static void showError(std::exception_ptr error);

    // Runs a handler outside the event delivery (creation, first show, close) with the same
    // error handling as the message loop; false when it ended in an error.
    template <class Handler> static bool guarded(Handler &&handler)
    {
        try {
            std::forward<Handler>(handler)();
            return true;
        } catch (...) {
            showError(std::current_exception());
            return false;
        }
    }
};

// The text of an error box: a "." is added when the last character comes after "." in
// character order.
QString errorBoxText(const QString &message);
