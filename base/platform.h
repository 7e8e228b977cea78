// platform: the one place where Windows and Linux differ, in one header for its callers: error
// numbers, code page, whole-file text, raw files and the file system, large zeroed blocks,
// environment, requests to end, and the seam through which the base library talks to the user.
#pragma once

#include "codepage.h"
#include "endrequest.h"
#include "environment.h"
#include "errors.h"
#include "files.h"
#include "memory.h"
#include "textlines.h"
#include "userinterface.h"
