// TFMApplication: the application object of the composer and its one error handler.
#include "tfmapplication.h"

#include "TFM.h"
#include "platform.h"
#include "startup.h"
#include "tfmcore.h"

#include <QFont>
#include <QThread>
#include <QTimer>

namespace {
QString &titleText()
{
    static QString text;
    return text;
}

bool &pendingEnd()
{
    static bool pending = false;
    return pending;
}
} // namespace

TFMApplication::TFMApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // The window's layout names the fonts of its home desktop; where they are missing, the
    // nearest ones of the same kind and width stand in.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"),
                                QStringLiteral("Liberation Sans Narrow"),
                                QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Verdana"),
                               {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Arial Black"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Courier"),
                               {QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"),
                                QStringLiteral("Nimbus Mono PS"),
                                QStringLiteral("DejaVu Sans Mono")});
}

QString TFMApplication::title() { return titleText(); }

namespace {

bool &mainLoopRunning()
{
    static bool running = false;
    return running;
}

// A box or dialog that waits for an answer would hold a logout up until the process is killed,
// its log and settings lost: each gets the answer its Escape key gives, also one that opens
// later in the start or in the close, so this looks again every little while for the rest of
// the run. The main window is closed from the main message loop only, never from inside a
// box's: the code that opened the box goes on once it is answered, and before the main loop
// runs a closed window would not end it.
void endNow()
{
    if (QWidget *modal = QApplication::activeModalWidget()) modal->close();
    const bool mainLoop = mainLoopRunning() && QThread::currentThread()->loopLevel() == 1;
    // A close already under way is not started again: Qt's close does nothing on a window
    // that is closing.
    if (mainLoop && !QApplication::activeModalWidget() && TFMform && TFMform->isVisible())
        TFMform->close();
    QTimer::singleShot(50, qApp, endNow);
}

} // namespace

void TFMApplication::closeMainWindowOnEndRequest()
{
    platform::onEndRequest([] {
        if (pendingEnd()) return; // already looked after
        pendingEnd() = true;
        endNow();
    });
}

int TFMApplication::runMainLoop()
{
    // A request that came during the start closes the window as soon as the loop runs: its
    // look-again finds the loop running.
    QTimer::singleShot(0, qApp, [] { mainLoopRunning() = true; });
    const int result = exec();
    mainLoopRunning() = false;
    return result;
}

void TFMApplication::setTitle(const QString &title) { titleText() = title; }

TTFMform *TFMApplication::startMainWindow(const QStringList &arguments)
{
    basestartup(arguments);
    setTitle(QStringLiteral("Kalvenor TFM"));
    auto *form = new TTFMform;
    form->show();
    return form;
}

bool TFMApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showError(std::current_exception());
        return true; // the event has been dealt with: the handler ran until it failed
    }
}

QString errorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back() > u'.') return message + u'.';
    return message;
}

void TFMApplication::showError(std::exception_ptr error)
{
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const RunError &e) {
        message = e.message();
    } catch (const std::exception &e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("Unknown error");
    }
    platform::ui().message(title(), errorBoxText(message), platform::Icon::Error);
}
