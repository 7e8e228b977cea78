// windowpos: window placement, saved to and restored from the per-user settings file.
#include "windowpos.h"

#include "settings.h"
#include "userfile.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <climits>

// ---- Window placement ----

namespace {

QString placementSection(const QString &name) { return QStringLiteral("VINDU-") + name; }

// "Left" and "Top" are the frame's outer corner, as the window system has it once the window
// is on screen; before that, and without a window system of its own, the widget's position.
QPoint framecorner(const QWidget *window)
{
    const QWindow *handle = window->isWindow() ? window->windowHandle() : nullptr;
    return handle && handle->isVisible() ? handle->framePosition() : window->pos();
}

// Before the window is first shown, its frame is not known yet, and a plain move would put the
// client area at the corner: the window would creep by its frame on every run, and a window
// manager would centre one that never moved. The frame is placed, as the last step before
// the window is shown, since any change of size after it counts it as the client's again.
void placeframe(QWidget *window, const QPoint &corner)
{
    if (QWindow *handle = window->isWindow() ? window->windowHandle() : nullptr)
        handle->setFramePosition(corner);
}

QSize screenSize()
{
    // Without a screen there is nothing to pull a window back onto.
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(INT_MAX, INT_MAX);
}

} // namespace

int savewindowpos(QWidget *window, const QString &name, const QString &extra)
{
    if (!window) return 0;
    openuserini();
    const QString kept = inisection;
    inisection = placementSection(name);
    iniwritebool(QStringLiteral("Maximized"), window->isMaximized());
    const QPoint corner = framecorner(window);
    iniwriteint(QStringLiteral("Left"), corner.x());
    iniwriteint(QStringLiteral("Top"), corner.y());
    iniwriteint(QStringLiteral("Height"), window->height());
    iniwriteint(QStringLiteral("Width"), window->width());
    iniwritestring(QStringLiteral("Diverse"), extra);
    inisection = kept;
    closeuserini();
    return 0;
}

int loadwindowpos(QWidget *window, const QString &name, QString &extra)
{
    if (!window) return 0;
    openuserini();
    const QString kept = inisection;
    inisection = placementSection(name);
    const QSize screen = screenSize();
    // Moving a maximised window takes its maximised state away, and a stored false must not.
    const bool wasMaximized = window->windowState() & Qt::WindowMaximized;

    int left = inireadint(QStringLiteral("Left"));
    if (left > screen.width()) left = screen.width() - window->width();
    window->move(left, window->y());
    int top = inireadint(QStringLiteral("Top"));
    if (top > screen.height()) top = screen.height() - window->height();
    window->move(window->x(), top);

    if (extra != QLatin1String("OnlyPos")) {
        if (const int height = inireadint(QStringLiteral("Height")); height > 0)
            window->resize(window->width(), height);
        if (const int width = inireadint(QStringLiteral("Width")); width > 0)
            window->resize(width, window->height());
    }
    placeframe(window, QPoint(left, top));
    if ((inireadbool(QStringLiteral("Maximized")) || wasMaximized) &&
        !(window->windowState() & Qt::WindowMaximized))
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
    inireadstring(QStringLiteral("Diverse"), extra);
    inisection = kept;
    closeuserini();
    return 0;
}

void setOwnWindowFlags(QWidget *window)
{
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint);
}
