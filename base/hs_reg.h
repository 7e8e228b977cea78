// hs_reg: the unit's one header for its callers: the settings store and its current section,
// the per-user settings file, program folders, window placement, user and machine facts,
// temporary-file cleanup, and the unit's start-up and shut-down.
#pragma once

#include "cleanup.h"
#include "folders.h"
#include "machine.h"
#include "settings.h"
#include "startup.h"
#include "userfile.h"
// Window placement lives in the base library's widgets part; its header needs no window library.
#include "windowpos.h"
