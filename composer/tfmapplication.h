// TFMApplication: the application object of the composer; errors that escape an event handler
// are caught here, in one place, and shown in an error box while the program goes on.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <utility>

class TFMApplication : public QApplication {
  public:
    TFMApplication(int &argc, char **argv);

    // The application title: the caption of the error boxes.
    static QString title();
    static void setTitle(const QString &title);

    bool notify(QObject *receiver, QEvent *event) override;

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
