// What an application remembers between its update checks: when the last one completed
// and what the user answered. Kept in a small ini file that is replaced atomically.
#pragma once

#include <cstdint>
#include <string>

struct TUpdateState {
  std::int64_t LastCheck = 0;    // Unix seconds; 0: never
  std::string SkippedVersion;    // never offered again by a scheduled check
  std::int64_t RemindAfter = 0;  // Unix seconds; no scheduled check before it

  // Reads Path. A missing file is an empty state; a damaged or foreign one is too, and
  // Problem then says in one line what was wrong with it.
  static TUpdateState Load(const std::string& Path, std::string& Problem);
  // Writes a temporary file beside Path, flushes it to the disk and renames it over Path,
  // so that a crash leaves either the old state or the new one. Creates missing folders.
  // False with Problem when it could not.
  bool Save(const std::string& Path, std::string& Problem) const;
};

// The default state file: $XDG_STATE_HOME/App/update-check.ini, or
// ~/.local/state/App/update-check.ini when the variable is unset or not absolute.
std::string DefaultStateFile(const std::string& App);
// The running program's file name, without its folder.
std::string ExecutableName();
// The clock the schedule runs on: Unix seconds.
std::int64_t NowSeconds();
