// textfil: the unit's one header for its callers: the checked text files and the log.
#pragma once

#include "checkedtext.h"
#include "log.h"
