// TFMApplication: the application object of the composer and its one error handler.
#include "tfmapplication.h"

#include "TFM.h"
#include "platform.h"
#include "tfmcore.h"

#include <QFont>

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

void TFMApplication::closeMainWindowOnEndRequest()
{
    platform::onEndRequest([] {
        // A close already under way, or a box it shows, is not started again: Qt's close
        // does nothing on a window that is closing.
        if (TFMform && TFMform->isVisible())
            TFMform->close();
        else
            pendingEnd() = true;
    });
}

bool TFMApplication::endRequested() { return pendingEnd(); }

void TFMApplication::setTitle(const QString &title) { titleText() = title; }

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
