// orvane-sign verify: a published page checked by the update check's own rules, and
// each file it signs fetched and checked without being saved.
#pragma once

#include "ToolArgs.h"

cli::TProgram VerifyProgram(TArgs& Args);
int Verify(const cli::TProgram& Program, const TArgs& Args);
