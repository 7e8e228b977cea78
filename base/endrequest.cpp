// endrequest: requests to end the program from outside, handed to the message loop.
#include "endrequest.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// The signal handler may do next to nothing safely: it only writes a byte into a pipe, whose
// other end the message loop watches.
int endPipe[2] = {-1, -1};

extern "C" void onEndSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a request; losing this one loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(endPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void onEndRequest(std::function<void()> handler)
{
    if (endPipe[0] >= 0 || ::pipe2(endPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto *notifier = new QSocketNotifier(endPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [handler = std::move(handler)] {
                         char bytes[64];
                         while (::read(endPipe[0], bytes, sizeof bytes) > 0) {
                         }
                         handler();
                     });
    struct sigaction action {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signal, &action, nullptr);
}

} // namespace platform
