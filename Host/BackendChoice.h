// Choosing how a program meets its user: in windows where this build has them and a
// display opens, on the terminal otherwise. Every build has these functions; one without
// the windowed back-end answers that windows are not available, so a program compiles the
// same code everywhere and decides at run time.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Host/UIBackend.h"
#include "Platform/Export.h"

class TCustomForm;

// Whether this build carries the windowed back-end at all.
ORV_API bool WindowedBackendBuilt();

// A windowed back-end connected to the display named by $DISPLAY, not yet installed;
// nullptr when this build has none or no display opens.
ORV_API std::unique_ptr<TUIBackend> OpenWindowedBackend();

// Installs the windowed back-end when a display can be opened, else the terminal one, for
// the rest of the program's life, and answers the one installed. Called once at start.
ORV_API TUIBackend& UseBestBackend();
// Whether the back-end installed by UseBestBackend is the windowed one.
ORV_API bool WindowedBackendInstalled();

// One command of a form's menu bar: Path is "Menu/Item" ("&Help/&Check for Update...").
struct ORV_API TMenuCommand {
  std::string Path;
  std::function<void()> OnClick;
};
// Gives Form a menu bar along its top edge from the next time it shows; false (and nothing
// done) where the back-end UseBestBackend installed has no menus.
ORV_API bool SetFormMenu(TCustomForm& Form, std::vector<TMenuCommand> Commands);
