// endrequest: requests to end the program from outside, handed to the message loop.
#pragma once

#include <functional>

namespace platform {

// Calls handler from the message loop, on the GUI thread, each time the process is asked to
// end (SIGTERM, SIGHUP or SIGINT on Linux: a logout, a shutdown, Ctrl-C), in place of the
// immediate end those would bring. Requests that come while no message loop runs (during the
// shut-down, say) are taken in and have no effect. Needs the application object; once only.
void onEndRequest(std::function<void()> handler);

} // namespace platform
