#include "Host/Backends/TerminalInput.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

TTerminalInput::TTerminalInput(int Fd) : FFd(Fd) {
  FIsTerminal = ::isatty(Fd) == 1;
  if (FIsTerminal) FSaved = ::tcgetattr(Fd, &FOriginal) == 0;
}

TTerminalInput::~TTerminalInput() {
  if (FSaved && FDepth > 0) ::tcsetattr(FFd, TCSANOW, &FOriginal);
}

void TTerminalInput::EnterKeyMode() {
  if (FDepth++ > 0) return;
  ResumeKeyMode();
}

void TTerminalInput::LeaveKeyMode() {
  if (FDepth == 0 || --FDepth > 0) return;
  SuspendKeyMode();
}

void TTerminalInput::SuspendKeyMode() {
  if (FSaved) ::tcsetattr(FFd, TCSANOW, &FOriginal);
}

void TTerminalInput::ResumeKeyMode() {
  if (!FSaved) return;
  termios raw = FOriginal;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
  raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL));
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  ::tcsetattr(FFd, TCSANOW, &raw);
}

bool TTerminalInput::Fill() {
  if (FClosed) return false;
  pollfd p{FFd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  char buffer[64];
  const ssize_t n = ::read(FFd, buffer, sizeof buffer);
  if (n > 0) {
    FPending.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  // A terminal in key mode answers 0 for "nothing yet"; anything else at 0 has ended.
  if (n == 0 && !(FIsTerminal && InKeyMode())) FClosed = true;
  if (n < 0 && errno != EAGAIN && errno != EINTR) FClosed = true;
  return false;
}

int TTerminalInput::ReadKey() {
  if (FPending.empty()) Fill();
  if (FPending.empty()) return FClosed ? KeyClosed : KeyNone;
  const unsigned char c = static_cast<unsigned char>(FPending[0]);
  if (c == 27) {
    // The rest of a key's sequence comes in the same write as its Escape.
    if (FPending.size() == 1) Fill();
    if (FPending.size() > 1 && (FPending[1] == '[' || FPending[1] == 'O')) {
      std::size_t end = 2;
      while (end < FPending.size() && !(FPending[end] >= 0x40 && FPending[end] <= 0x7E)) ++end;
      FPending.erase(0, end < FPending.size() ? end + 1 : FPending.size());
      return ReadKey();
    }
    FPending.erase(0, 1);
    return KeyEscape;
  }
  FPending.erase(0, 1);
  if (c == '\n') return KeyEnter;
  if (c == 8) return KeyBackspace;
  return c;
}
