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
// Brings the entries of the folder that holds FileName to the disk, so that a rename or a
// new file in it outlasts a power cut. A file system that cannot (EINVAL) is taken at its
// word. Answers 0 or the errno.
ORV_API int SyncFolderOf(const std::string& FileName);
// Joins a relative name onto the current folder; an absolute one is answered unchanged.
ORV_API std::string ExpandFileName(const std::string& FileName);
// Why Name, given by someone else (a server, a page), cannot name a file to write in the
// current folder, or empty when it can: empty, "." or "..", hidden (a leading "."), a
// control character, a backslash or bytes that are no UTF-8, or longer than a file name
// may be. A "/" never reaches here (it ends the segment), and "%" escapes are taken
// literally.
ORV_API std::string FileNameFault(const std::string& Name);
