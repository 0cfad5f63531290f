// orvane-sign sign: the signed entries of a page for an update file and its read-mes.
#pragma once

#include "ToolArgs.h"

cli::TProgram SignProgram(TArgs& Args);
int Sign(const cli::TProgram& Program, const TArgs& Args);
