// xstart: a program timed as a user meets it on a desktop: an X display of its own (Xvfb) under
// a window manager (openbox), the program started as a process, the moment its first top-level
// window is mapped seen from outside by a client watching the root window, and a window
// manager's close (WM_DELETE_WINDOW, as openbox's close button sends it) timed to the exit.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

struct xcb_connection_t;

std::int64_t monotonicNs();

class XStartDisplay {
  public:
    // Starts Xvfb on a free display number and openbox on it, and waits for the manager to
    // take the screen. ok() is false when either could not be had.
    XStartDisplay();
    ~XStartDisplay();
    XStartDisplay(const XStartDisplay &) = delete;
    XStartDisplay &operator=(const XStartDisplay &) = delete;

    bool ok() const { return m_connection != nullptr; }
    const QByteArray &display() const { return m_display; }

    struct Run {
        bool mapped = false; // a top-level window came up
        bool ended = false;  // and the process ended after the close
        double mapMs = 0;    // start to the first top-level map
        double closeMs = 0;  // the window manager's close to the process's exit
        double totalMs = 0;  // start to exit
        QByteArray output;   // what the process printed on its standard output
        std::int64_t startNs = 0;
    };
    // Starts program with arguments in folder work, its environment the bench's own with
    // DISPLAY and QT_QPA_PLATFORM set and extra added ("NAME=value"); closes its window once
    // mapped (after settle milliseconds, so the close meets a program at rest) and waits for
    // its exit.
    Run run(const QString &program, const QStringList &arguments, const QString &work,
            const QStringList &extra, int settleMs = 150);

  private:
    void stopProcesses();

    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
    std::uint32_t m_clientList = 0, m_pidAtom = 0, m_protocols = 0, m_deleteWindow = 0;
    QByteArray m_display;
    int m_serverPid = -1;
    int m_managerPid = -1;
};
