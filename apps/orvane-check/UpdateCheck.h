// The update check of orvane-check: a TOrvane set up from the command line, run with the
// terminal back-end, its outcome turned into the exit status.
#pragma once

#include <cstdio>
#include <string>

#include "CheckOptions.h"

// Exit statuses.
inline constexpr int ExitDownloaded = 0;
inline constexpr int ExitNoUpdate = 1;  // none, or the user declined
inline constexpr int ExitFailure = 2;

// Runs the check against HomeURL; problems go to standard error as one line each. With
// --json the result goes to JsonOut as one line.
int RunUpdateCheck(const TCheckOptions& Options, const std::string& HomeURL,
                   std::FILE* JsonOut = stdout);
