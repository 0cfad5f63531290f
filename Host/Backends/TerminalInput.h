// Keys from a terminal, read without waiting, so that the caller's message loop keeps
// running between two keys.
#pragma once

#include <termios.h>

#include <string>

// What ReadKey answers besides a printable character (which is answered as itself).
inline constexpr int KeyNone = -1;    // nothing typed yet
inline constexpr int KeyClosed = -2;  // the input has ended
inline constexpr int KeyEnter = '\r';
inline constexpr int KeyEscape = 27;
inline constexpr int KeyInterrupt = 3;  // Ctrl-C
inline constexpr int KeyBackspace = 127;

class TTerminalInput {
 public:
  explicit TTerminalInput(int Fd);
  // Leaves the terminal as it was found.
  ~TTerminalInput();
  TTerminalInput(const TTerminalInput&) = delete;
  TTerminalInput& operator=(const TTerminalInput&) = delete;

  // Whether the descriptor is a terminal.
  bool IsTerminal() const { return FIsTerminal; }
  // Keys one at a time, without echo, line editing or signals (Ctrl-C is a key); nests.
  void EnterKeyMode();
  void LeaveKeyMode();
  bool InKeyMode() const { return FDepth > 0; }
  // Puts the terminal back as found, for a program that takes it over for a while (a
  // pager); ResumeKeyMode undoes it.
  void SuspendKeyMode();
  void ResumeKeyMode();

  // The next key, or KeyNone when none has been typed; never waits. Escape sequences of
  // cursor and function keys are swallowed whole; a lone Escape is KeyEscape.
  int ReadKey();

 private:
  bool Fill();

  int FFd;
  bool FIsTerminal = false;
  bool FSaved = false;
  termios FOriginal{};
  int FDepth = 0;
  bool FClosed = false;
  std::string FPending;
};
