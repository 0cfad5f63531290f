// The package's entry points, for a design tool or an application that loads the package
// library at run time (dlopen/dlsym) rather than linking it.
//
// Loading the library runs each unit's start-up and adds the package's resources (the
// palette bitmap TORVANE, the update checker's string table, found with LoadStr);
// unloading runs the clean-up and takes them back.
#pragma once

#include "Platform/Export.h"

class TDesignSession;

extern "C" {
// The package's version, "major.minor.patch".
ORV_API const char* OrvanePackVersion();
// Registers the package's components with the designer: TOrvane (with its editor), THttpCli,
// TWSocket and TWait on the palette page "Internet". Registering again changes nothing.
ORV_API void OrvanePackRegister();
// Takes the package's classes off the palette again. A design tool calls it last, once
// every thread that used the package but the caller is gone, and then unloads the package:
// what the units keep for the life of the process is freed with the library.
ORV_API void OrvanePackUnregister();
// A new form-designer session; the caller deletes it before unloading the package.
ORV_API TDesignSession* OrvanePackNewDesignSession();
}

// The types of the entry points, for dlsym.
using TOrvanePackVersionProc = const char* (*)();
using TOrvanePackRegisterProc = void (*)();
using TOrvanePackNewDesignSessionProc = TDesignSession* (*)();
