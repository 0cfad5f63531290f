// English texts of the socket error codes, appended to the numeric code in error messages.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Export.h"

// "No Error" for 0, "Not a WinSock error" for any code the socket layer does not define.
// Needs no started socket layer.
ORV_API std::string WSocketErrorDesc(std::int32_t ErrCode);
