// Reading an information page's entries: one META HTTP-EQUIV entry per line, its name
// between the two characters after the marker and the next double quote, its content
// after the first "CONTENT=" and one more character, up to the next double quote. The
// update check and the signing tool read pages by these rules alone, so that they can
// never disagree about what a page says.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "Platform/Export.h"

// The content of one entry line (empty when it has none).
ORV_API std::string EntryContent(const std::string& Line);
// The name of the entry on Line; false when the line holds no entry.
ORV_API bool ReadEntryName(const std::string& Line, std::string& Name);
// Every entry of a page by name; a later entry of the same name wins, as in the check.
ORV_API std::map<std::string, std::string> ReadPageEntries(const std::string& Body);

// A byte count as a page writes it: decimal digits only, no sign, no blank, no leading
// zero; at most 18 digits, so that it fits every count it is compared with.
ORV_API bool ReadByteCount(const std::string& Text, std::uint64_t& Size);
// 64 hex digits in lower case, or empty for anything else.
ORV_API std::string HashHex(const std::string& Text);
