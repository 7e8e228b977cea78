// startup: the base library's start-up and shut-down: the units' initialisations in their
// fixed order (hs_reg's among them), run by the program entry before the first window, and their
// finalisations in reverse after the message loop.
#pragma once

#include <QStringList>

// Runs each unit's start-up in order; `arguments` is the program's argument list
// (program name first, as QCoreApplication::arguments() gives it).
void basestartup(const QStringList &arguments);

// Runs each unit's shut-down in the reverse order.
void baseshutdown();

// The unit's own start-up (command line, settings, folders, flags, log) and shut-down.
void hs_regInitialization(const QStringList &arguments);
void hs_regFinalization();
