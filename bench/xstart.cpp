// xstart: the X display, the window manager and the watcher of one program's start and close.
#include "xstart.h"

#include <QFile>

#include <xcb/xcb.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

std::int64_t monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

namespace {

double msSince(std::int64_t begin, std::int64_t end) { return double(end - begin) / 1e6; }

// The bench's own environment with these names replaced or added.
std::vector<std::string> environmentWith(const QStringList &set)
{
    std::vector<std::string> result;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        bool replaced = false;
        for (const QString &s : set) {
            const std::string name = s.left(s.indexOf(u'=') + 1).toStdString();
            if (entry.compare(0, name.size(), name) == 0) replaced = true;
        }
        if (!replaced) result.push_back(entry);
    }
    for (const QString &s : set) result.push_back(QFile::encodeName(s).toStdString());
    return result;
}

int spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env,
          const QByteArray &work, int stdoutFd)
{
    std::vector<char *> args, envp;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    // posix_spawn has no portable change of folder: a plain fork does it.
    const pid_t pid = fork();
    if (pid == 0) {
        if (stdoutFd >= 0) dup2(stdoutFd, 1);
        if (!work.isEmpty() && chdir(work.constData()) != 0) _exit(126);
        execve(args[0], args.data(), envp.data());
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

std::vector<std::uint32_t> cardinals(xcb_connection_t *c, xcb_window_t w, xcb_atom_t property,
                                     xcb_atom_t type)
{
    std::vector<std::uint32_t> values;
    xcb_get_property_reply_t *r =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, type, 0, 4096), nullptr);
    if (r && r->format == 32) {
        const auto *v = static_cast<const std::uint32_t *>(xcb_get_property_value(r));
        values.assign(v, v + xcb_get_property_value_length(r) / 4);
    }
    std::free(r);
    return values;
}

void drain(int fd, QByteArray &into)
{
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) into.append(buffer, got);
}

} // namespace

XStartDisplay::XStartDisplay()
{
    int pipeFd[2];
    if (pipe2(pipeFd, O_CLOEXEC) != 0) return;
    // Xvfb picks a free display number itself and tells it on the pipe.
    const pid_t server = fork();
    if (server == 0) {
        dup2(pipeFd[1], 3);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1600x1200x24", "-nolisten",
               "tcp", static_cast<char *>(nullptr));
        _exit(127);
    }
    ::close(pipeFd[1]);
    m_serverPid = server;
    QByteArray number;
    pollfd p{pipeFd[0], POLLIN, 0};
    const std::int64_t deadline = monotonicNs() + 30'000'000'000;
    while (!number.contains('\n') && monotonicNs() < deadline && poll(&p, 1, 1000) >= 0) {
        char c[16];
        const ssize_t got = ::read(pipeFd[0], c, sizeof c);
        if (got <= 0) break;
        number.append(c, got);
    }
    ::close(pipeFd[0]);
    number = number.trimmed();
    if (number.isEmpty()) {
        stopProcesses();
        return;
    }
    m_display = ':' + number;

    m_managerPid = spawn(
        {"openbox", "--sm-disable"},
        environmentWith({QStringLiteral("DISPLAY=") + QString::fromLatin1(m_display)}), {}, -1);
    xcb_connection_t *c = xcb_connect(m_display.constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        stopProcesses();
        return;
    }
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    m_root = screen->root;
    // The manager has taken the screen once it owns the screen's manager selection.
    const xcb_atom_t wmS0 = atom(c, "WM_S0");
    bool managed = false;
    while (!managed && monotonicNs() < deadline) {
        xcb_get_selection_owner_reply_t *r =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, wmS0), nullptr);
        managed = r && r->owner != XCB_WINDOW_NONE;
        std::free(r);
        if (!managed) usleep(20000);
    }
    if (!managed) {
        xcb_disconnect(c);
        stopProcesses();
        return;
    }
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, m_root, XCB_CW_EVENT_MASK, &mask);
    m_clientList = atom(c, "_NET_CLIENT_LIST");
    m_pidAtom = atom(c, "_NET_WM_PID");
    m_protocols = atom(c, "WM_PROTOCOLS");
    m_deleteWindow = atom(c, "WM_DELETE_WINDOW");
    xcb_flush(c);
    m_connection = c;
}

XStartDisplay::~XStartDisplay()
{
    if (m_connection) xcb_disconnect(m_connection);
    stopProcesses();
}

void XStartDisplay::stopProcesses()
{
    for (int *pid : {&m_managerPid, &m_serverPid}) {
        if (*pid <= 0) continue;
        kill(*pid, SIGTERM);
        waitpid(*pid, nullptr, 0);
        *pid = -1;
    }
}

XStartDisplay::Run XStartDisplay::run(const QString &program, const QStringList &arguments,
                                      const QString &work, const QStringList &extra, int settleMs)
{
    Run result;
    if (!m_connection) return result;
    while (xcb_generic_event_t *e = xcb_poll_for_event(m_connection)) std::free(e);

    std::vector<std::string> argv{QFile::encodeName(program).toStdString()};
    for (const QString &a : arguments) argv.push_back(QFile::encodeName(a).toStdString());
    QStringList set{QStringLiteral("DISPLAY=") + QString::fromLatin1(m_display),
                    QStringLiteral("QT_QPA_PLATFORM=xcb")};
    set += extra;
    const std::vector<std::string> env = environmentWith(set);
    int out[2];
    if (pipe2(out, O_CLOEXEC | O_NONBLOCK) != 0) return result;

    const std::int64_t begin = monotonicNs();
    result.startNs = begin;
    const pid_t pid = spawn(argv, env, QFile::encodeName(work), out[1]);
    ::close(out[1]);
    const int pidFd = int(syscall(SYS_pidfd_open, pid, 0));

    const int xFd = xcb_get_file_descriptor(m_connection);
    std::int64_t mappedAt = 0;
    const std::int64_t deadline = begin + 20'000'000'000;
    while (!mappedAt && monotonicNs() < deadline) {
        pollfd fds[2] = {{xFd, POLLIN, 0}, {out[0], POLLIN, 0}};
        poll(fds, 2, 100);
        drain(out[0], result.output);
        while (xcb_generic_event_t *e = xcb_poll_for_event(m_connection)) {
            if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY && !mappedAt) {
                const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(e);
                if (map->event == m_root && !map->override_redirect) mappedAt = monotonicNs();
            }
            std::free(e);
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) { // ended without a window
            ::close(out[0]);
            if (pidFd >= 0) ::close(pidFd);
            return result;
        }
    }
    result.mapped = mappedAt != 0;
    result.mapMs = msSince(begin, mappedAt);

    // The program's own window among the manager's clients, by its process number.
    xcb_window_t window = XCB_WINDOW_NONE;
    const std::int64_t settleUntil = monotonicNs() + std::int64_t(settleMs) * 1'000'000;
    const std::int64_t findUntil = monotonicNs() + 5'000'000'000;
    while (monotonicNs() < findUntil &&
           (window == XCB_WINDOW_NONE || monotonicNs() < settleUntil)) {
        for (std::uint32_t w : cardinals(m_connection, m_root, m_clientList, XCB_ATOM_WINDOW)) {
            const auto pids = cardinals(m_connection, w, m_pidAtom, XCB_ATOM_CARDINAL);
            if (!pids.empty() && pids[0] == std::uint32_t(pid)) window = w;
        }
        drain(out[0], result.output);
        usleep(5000);
    }

    std::int64_t closedAt = monotonicNs();
    if (window != XCB_WINDOW_NONE) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = m_protocols;
        message.data.data32[0] = m_deleteWindow;
        message.data.data32[1] = XCB_CURRENT_TIME;
        closedAt = monotonicNs();
        xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&message));
        xcb_flush(m_connection);
    }
    int status = 0;
    bool ended = false;
    const std::int64_t exitDeadline = monotonicNs() + 20'000'000'000;
    while (!ended && monotonicNs() < exitDeadline) {
        pollfd fds[2] = {{pidFd, POLLIN, 0}, {out[0], POLLIN, 0}};
        poll(fds, pidFd >= 0 ? 2 : 0, pidFd >= 0 ? 100 : 1);
        drain(out[0], result.output);
        ended = waitpid(pid, &status, WNOHANG) == pid;
    }
    const std::int64_t end = monotonicNs();
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    drain(out[0], result.output);
    ::close(out[0]);
    if (pidFd >= 0) ::close(pidFd);
    result.ended = ended && window != XCB_WINDOW_NONE;
    result.closeMs = msSince(closedAt, end);
    result.totalMs = msSince(begin, end);
    return result;
}
