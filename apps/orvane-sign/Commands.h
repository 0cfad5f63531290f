// orvane-sign's commands, and the program as a whole: its --help and manual page list
// every command with its options, from the commands' own tables.
#pragma once

#include <string>

#include "ToolArgs.h"

// The command named Name; nullptr for none.
const TCommand* FindCommand(const std::string& Name);
cli::TProgram ToolProgram();
