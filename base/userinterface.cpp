// userinterface: the seam through which the base library shows the user something, and its
// fallback to standard error until the program installs the desktop's side.
#include "userinterface.h"

#include <cstdio>

namespace platform {

namespace {

class StderrUserInterface final : public UserInterface {
  public:
    void message(const QString &caption, const QString &text, Icon) override
    {
        std::fprintf(stderr, "[%s] %s\n", caption.toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
    }
    void setBusyCursor(bool) override {}
    void shellOpen(const QString &, const QString &, const QString &) override {}
};

// Made on first use, so that a box asked for while the program's statics start still shows.
UserInterface &fallback()
{
    static StderrUserInterface stderrInterface;
    return stderrInterface;
}

UserInterface *&current()
{
    static UserInterface *ui = &fallback();
    return ui;
}

} // namespace

UserInterface &ui() { return *current(); }

void setUserInterface(UserInterface *u) { current() = u ? u : &fallback(); }

} // namespace platform
