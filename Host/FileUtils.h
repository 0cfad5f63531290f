// File-name pieces and file-system questions, on '/'-separated paths.
#pragma once

#include <string>

#include "Platform/Export.h"

// From the last '.' of the name part, dot included ("setup.exe" gives ".exe"); empty
// when the name part has no dot.
ORV_API std::string ExtractFileExt(const std::string& FileName);
// Everything up to and including the last '/'; empty when there is none.
ORV_API std::string ExtractFilePath(const std::string& FileName);
// Everything after the last '/'.
ORV_API std::string ExtractFileName(const std::string& FileName);
// A regular file (or a link to one) exists there.
ORV_API bool FileExists(const std::string& FileName);
// A folder exists there; the empty path is the current folder.
ORV_API bool DirectoryExists(const std::string& Dir);
// Joins a relative name onto the current folder; an absolute one is answered unchanged.
ORV_API std::string ExpandFileName(const std::string& FileName);
