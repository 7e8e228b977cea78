// userinterface: the seam through which the base library shows the user something, and its
// fallback to standard error until the program installs the desktop's side.
#pragma once

#include <QString>

namespace platform {

enum class Icon { None, Error };

class UserInterface {
  public:
    virtual ~UserInterface() = default;
    // A modal box with one OK button; returns when the user has closed it.
    virtual void message(const QString &caption, const QString &text, Icon icon) = 0;
    virtual void setBusyCursor(bool busy) = 0;
    // Hands a file or web address to the desktop's default program; does not wait for it.
    virtual void shellOpen(const QString &file, const QString &parameters,
                           const QString &folder) = 0;
};

// Until the program installs the desktop's implementation, boxes go to standard error, so
// nothing ever blocks.
UserInterface &ui();
void setUserInterface(UserInterface *ui);

} // namespace platform
