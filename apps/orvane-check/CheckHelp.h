// What orvane-check's --help and manual page tell beside its options.
#pragma once

#include <vector>

#include "CommandLine.h"

extern const char* const CheckDescription;
std::vector<cli::TSection> CheckSections();
