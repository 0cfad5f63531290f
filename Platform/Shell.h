// Opening files the way the desktop shell does, and the temporary folder.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Platform/Export.h"
#include "Platform/Messages.h"

namespace plat {

inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;

// ShellExecuteA results of 32 and below are errors.
inline constexpr int SE_ERR_OOM = 0;
inline constexpr int SE_ERR_FNF = 2;  // file not found
inline constexpr int SE_ERR_PNF = 3;  // directory not found
inline constexpr int SE_ERR_ACCESSDENIED = 5;
inline constexpr int SE_ERR_NOMEM = 8;
inline constexpr int SE_ERR_BADFORMAT = 11;
inline constexpr int SE_ERR_NOASSOC = 31;  // no program to open it with, or unknown verb

// Verb "open" (or none): an executable file is started with params (split like a command
// line: blanks separate, double quotes group, \" is a quote); any other file or folder is
// handed to xdg-open. dir, when given, is the working directory. Returns once the program
// has started, without waiting for it: > 32 on success, an SE_ERR_ code otherwise.
// parent and showCmd are accepted and ignored.
ORV_API int ShellExecuteA(HWND parent, const char* verb, const char* file, const char* params,
                          const char* dir, int showCmd);

// TMPDIR, or /tmp, with a trailing '/'. Returns the length written without the NUL; when
// buf is null or bufLen too small, writes nothing and returns the size needed with the NUL.
ORV_API DWORD GetTempPathA(DWORD bufLen, char* buf);

// What the shell starts. An empty dir keeps the caller's.
struct ORV_API ShellCommand {
  std::string program;  // a path
  std::vector<std::string> args;
  std::string dir;
};
// Starts the command detached; returns 0 once it runs, or the errno of the failure.
using ShellLauncher = std::function<int(const ShellCommand&)>;
// Replaces the launcher (tests do); an empty one restores the real one.
ORV_API void SetShellLauncher(ShellLauncher launcher);
// Starts Command detached through the launcher, its arguments as given; 0 once it runs,
// or the errno of the failure.
ORV_API int StartDetached(const ShellCommand& Command);

// The parameter splitting of ShellExecuteA.
ORV_API std::vector<std::string> SplitShellParams(const char* params);

}  // namespace plat
