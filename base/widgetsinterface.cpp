// widgetsinterface: the desktop's side of the user-interface seam, on Qt Widgets: message
// boxes, the busy cursor, and files handed to the desktop.
#include "widgetsinterface.h"

#include "userinterface.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace platform {

namespace {

class WidgetsUserInterface final : public UserInterface {
  public:
    void message(const QString &caption, const QString &text, Icon icon) override
    {
        QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::NoIcon, caption,
                        text, QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    }
    void setBusyCursor(bool busy) override
    {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    }
    void shellOpen(const QString &file, const QString &, const QString &) override
    {
        const QUrl url = file.contains(QStringLiteral("://")) ? QUrl(file)
                                                              : QUrl::fromLocalFile(file);
        QDesktopServices::openUrl(url);
    }
};

} // namespace

void installWidgetsUserInterface()
{
    static WidgetsUserInterface widgets;
    setUserInterface(&widgets);
}

} // namespace platform
