// One request as the options ask for it; answers the exit status.
#pragma once

#include "Options.h"

int Fetch(const THttpGetOptions& Options);
