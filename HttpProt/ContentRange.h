// The "content-range" of a partial answer, read strictly: it decides where received bytes
// go in a file, so a value that is anything but well formed is taken as no range at all.
#pragma once

#include <cstdint>
#include <string_view>

#include "Platform/Export.h"

struct THttpContentRange {
  // The first and last byte the answer carries, and the whole document's length (-1 when
  // the server wrote "*"); First is -1 when there is no usable range.
  std::int64_t First = -1;
  std::int64_t Last = -1;
  std::int64_t Total = -1;
  bool Valid() const { return First >= 0; }
};

// "bytes FIRST-LAST/TOTAL" or "bytes FIRST-LAST/*" (unit in any case, blanks around the
// whole value), with FIRST <= LAST < TOTAL and at most 18 digits a number. Anything else,
// the "bytes */TOTAL" of an unsatisfiable range included, gives an invalid range.
ORV_API THttpContentRange ParseContentRange(std::string_view Text);
