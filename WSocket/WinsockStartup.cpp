#include "WSocket/WinsockStartup.h"

#include <mutex>

#include "Platform/KeptObjects.h"
#include "WSocket/SocketException.h"

namespace {

// Guards the four values below.
std::mutex& StartupLock() {
  static auto* m = plat::KeepForProcess(new std::mutex);  // used until the process ends
  return *m;
}

std::int32_t gSocketCount = 0;
// Threads whose background closer still finishes sockets.
std::int32_t gClosingThreads = 0;
bool gWinsockStarted = false;
plat::WSADATA gWinsockData{};

// Starts the socket layer; the caller holds the lock.
void StartLocked() {
  if (gWinsockStarted) return;
  const int err = plat::WSAStartup(0x0101, &gWinsockData);
  if (err != 0) throw ESocketException("%s: WSAStartup error #%d", {"wsock32.dll", err});
  gWinsockStarted = true;
}

// Cleans the socket layer up when no socket needs it; answers whether it did. The caller
// holds the lock.
bool CleanupUnusedLocked() {
  if (!gWinsockStarted || gSocketCount > 0 || gClosingThreads > 0) return false;
  plat::WSACleanup();
  gWinsockStarted = false;
  return true;
}

// The unit's end: the socket layer is cleaned up if something (WinsockInfo, a resolver
// function) left it started. Not while components leaked past the end of the program still
// hold sockets: closing those would need per-thread state that is already gone.
struct TUnitEnd {
  TUnitEnd() = default;
  TUnitEnd(const TUnitEnd&) = delete;
  TUnitEnd& operator=(const TUnitEnd&) = delete;
  ~TUnitEnd() {
    std::lock_guard lock(StartupLock());
    CleanupUnusedLocked();
  }
};
const TUnitEnd UnitEnd;

}  // namespace

void EnsureWinsockStarted() {
  std::lock_guard lock(StartupLock());
  StartLocked();
}

plat::WSADATA WinsockInfo() {
  std::lock_guard lock(StartupLock());
  StartLocked();
  return gWinsockData;
}

void WinsockSocketCreated() {
  std::lock_guard lock(StartupLock());
  ++gSocketCount;
}

void WinsockSocketCreatedAndStarted() {
  std::lock_guard lock(StartupLock());
  ++gSocketCount;
  try {
    StartLocked();
  } catch (...) {
    --gSocketCount;  // the layer is not started: nothing to clean up
    throw;
  }
}

void WinsockSocketDestroyed() {
  std::lock_guard lock(StartupLock());
  --gSocketCount;
  if (CleanupUnusedLocked()) gSocketCount = 0;
}

std::int32_t SocketCount() {
  std::lock_guard lock(StartupLock());
  return gSocketCount;
}

bool WinsockStarted() {
  std::lock_guard lock(StartupLock());
  return gWinsockStarted;
}

void WinsockBackgroundCloseStarted() {
  std::lock_guard lock(StartupLock());
  ++gClosingThreads;
}

void WinsockBackgroundCloseEnded() {
  std::lock_guard lock(StartupLock());
  --gClosingThreads;
  if (gSocketCount <= 0) CleanupUnusedLocked();
}
