// The date part of an HTTP date, for the client's "If-Modified-Since: " header.
#pragma once

#include <string>

#include "Host/SysUtils.h"
#include "Platform/Export.h"

// "Sun, 06 Nov 1994 08:49:37": English names whatever the locale, milliseconds dropped,
// no zone conversion and no zone text (the caller appends " GMT"). Values before
// 1900-01-01 get their true weekday. A value that is not a date between the years 1 and
// 9999 (NaN, infinite, out of range) gives an empty string.
ORV_API std::string RFC1123_Date(TDateTime D);
