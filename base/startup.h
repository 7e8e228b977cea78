// startup: the base library's single start-up and shut-down, run by the program entry
// before the first window and after the message loop, in a fixed order of units; and hs_reg's
// own start-up and shut-down among them.
#pragma once

#include <QStringList>

// Runs each unit's start-up in order; `arguments` is the program's argument list
// (program name first, as QCoreApplication::arguments() gives it).
void basestartup(const QStringList &arguments);

// Runs each unit's shut-down in the reverse order.
void baseshutdown();

// ---- Start-up and shut-down ----

// The unit's own start-up (command line, settings, folders, flags, log) and shut-down.
void hs_regInitialization(const QStringList &arguments);
void hs_regFinalization();
