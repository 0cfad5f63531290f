// What the component refuses of the addresses and names a page gives it, before anything
// is fetched or written: a page is written by whoever controls the server, or the path.
#pragma once

#include <string>

// Why Url cannot be fetched, or empty when it can: only an absolute http:// or https://
// address with a host name, in UTF-8 without blanks or control characters (C0, DEL, C1),
// is requested.
std::string UrlFault(const std::string& Url);
// Why Name cannot be the name of a file the component proposes to write, or empty when it
// can: empty, "." or "..", hidden (a leading "."), a control character or a backslash,
// or longer than a file name may be. A "/" never reaches here (it ends the segment), and
// "%" escapes are taken literally.
std::string FileNameFault(const std::string& Name);
