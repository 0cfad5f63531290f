// What the component refuses of the addresses and names a page gives it, before anything
// is fetched or written: a page is written by whoever controls the server, or the path.
#pragma once

#include <string>

#include "Host/FileUtils.h"  // FileNameFault

// Why Url cannot be fetched, or empty when it can: only an absolute http:// or https://
// address with a host name, in UTF-8 without blanks or control characters (C0, DEL, C1),
// is requested.
std::string UrlFault(const std::string& Url);
