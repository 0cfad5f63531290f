// The options of orvane-check that change what an earlier check left, instead of checking.
#pragma once

#include "CheckOptions.h"

// --skip-version, --forget-skipped or --roll-back: the exit status; -1 when none was given.
int RunStateCommand(const TCheckOptions& Options);
