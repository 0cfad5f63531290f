// The META HTTP-EQUIV entries of an information page, by name, read by the same rules as
// the update checker's page parser (a later entry of the same name wins). The checker
// itself reads only the entries its tags name; this tool needs the signature's entries
// too, whatever the page calls them.
#pragma once

#include <map>
#include <string>

std::map<std::string, std::string> ReadPageEntries(const std::string& Body);
