// startup: the base library's single start-up and shut-down, run by the program entry
// before the first window and after the message loop, in a fixed order of units.
#pragma once

#include <QStringList>

// Runs each unit's start-up in order; `arguments` is the program's argument list
// (program name first, as QCoreApplication::arguments() gives it).
void basestartup(const QStringList &arguments);

// Runs each unit's shut-down in the reverse order.
void baseshutdown();
