// hs_reg: the unit's one header for its callers: the settings store and its current section,
// the per-user settings file, program folders, user and machine facts, temporary-file
// cleanup, and the unit's start-up and shut-down. Window placement takes a window: its callers
// include windowpos.h of the widgets library themselves.
#pragma once

#include "cleanup.h"
#include "folders.h"
#include "machine.h"
#include "settings.h"
#include "startup.h"
#include "userfile.h"
