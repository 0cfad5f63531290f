// Replacing a program shipped as one file with its update, and putting it back.
#pragma once

#include <string>
#include <vector>

#include "Platform/Export.h"

// The running program's own file: $APPIMAGE when set, else the executable the process
// was started from.
ORV_API std::string RunningProgramFile();
// The arguments the process was started with, without the program's name.
ORV_API std::vector<std::string> RunningProgramArguments();
// Why Target cannot be replaced by this user (a folder that cannot be written, a file that
// is no regular file), or empty when it can. Nothing is ever escalated into.
ORV_API std::string ReplaceFault(const std::string& Target);
// Gives NewFile Target's mode, flushes it to the disk and renames it over Target, keeping
// the old file as Target.previous; false with Error, Target untouched, when it cannot.
ORV_API bool InstallReplacement(const std::string& NewFile, const std::string& Target,
                                std::string& Error);
// Puts Target.previous back as Target (the update did not start); false with Error.
ORV_API bool RollBackReplacement(const std::string& Target, std::string& Error);
// Removes Target.previous once the new version has started; true when there was one.
ORV_API bool ForgetReplaced(const std::string& Target);
