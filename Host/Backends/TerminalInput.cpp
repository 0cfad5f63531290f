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
  termios Raw = FOriginal;
  Raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
  Raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL));
  Raw.c_cc[VMIN] = 0;
  Raw.c_cc[VTIME] = 0;
  ::tcsetattr(FFd, TCSANOW, &Raw);
}

bool TTerminalInput::Fill() {
  if (FClosed) return false;
  pollfd P{FFd, POLLIN, 0};
  if (::poll(&P, 1, 0) <= 0) return false;
  char Buffer[64];
  const ssize_t N = ::read(FFd, Buffer, sizeof Buffer);
  if (N > 0) {
    FPending.append(Buffer, static_cast<std::size_t>(N));
    return true;
  }
  // A terminal in key mode answers 0 for "nothing yet"; anything else at 0 has ended.
  if (N == 0 && !(FIsTerminal && InKeyMode())) FClosed = true;
  if (N < 0 && errno != EAGAIN && errno != EINTR) FClosed = true;
  return false;
}

int TTerminalInput::ReadKey() {
  if (FPending.empty()) Fill();
  if (FPending.empty()) return FClosed ? KeyClosed : KeyNone;
  const unsigned char C = static_cast<unsigned char>(FPending[0]);
  if (C == 27) {
    // The rest of a key's sequence comes in the same write as its Escape.
    if (FPending.size() == 1) Fill();
    if (FPending.size() > 1 && (FPending[1] == '[' || FPending[1] == 'O')) {
      std::size_t End = 2;
      while (End < FPending.size() && !(FPending[End] >= 0x40 && FPending[End] <= 0x7E)) ++End;
      FPending.erase(0, End < FPending.size() ? End + 1 : FPending.size());
      return ReadKey();
    }
    FPending.erase(0, 1);
    return KeyEscape;
  }
  FPending.erase(0, 1);
  if (C == '\n') return KeyEnter;
  if (C == 8) return KeyBackspace;
  return C;
}
