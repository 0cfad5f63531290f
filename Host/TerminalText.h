// Text from outside the program (a server, a file) made harmless for a terminal: nothing
// in it can move the cursor, clear the screen, set the title or send a terminal command.
#pragma once

#include <string>

#include "Platform/Export.h"

// Text as it may be printed: C0 controls other than line feed and tab, DEL and the C1
// controls become visible escapes ("\x1b", "\u009b"), and bytes that are no valid UTF-8
// become U+FFFD each. Everything else passes unchanged.
ORV_API std::string TerminalSafeText(const std::string& Text);
// Text cut to at most MaxBytes bytes without splitting a UTF-8 character.
ORV_API std::string CutAtCharacter(const std::string& Text, std::size_t MaxBytes);
