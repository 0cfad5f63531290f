// Start-up and clean-up of the socket layer, reference counted for the whole process.
#include <cstring>

#include "Platform/SocketTable.h"
#include "Platform/Sockets/WinsockErrors.h"

namespace plat {

namespace sockimpl {

namespace {
std::atomic<int> gStartCount{0};
}  // namespace

bool CheckStarted() {
  if (gStartCount.load(std::memory_order_acquire) > 0) return true;
  WSASetLastError(WSANOTINITIALISED);
  return false;
}

}  // namespace sockimpl

namespace {
constexpr WORD kHighVersion = 0x0101;  // 1.1: major in the low byte, minor in the high byte
constexpr const char* kDescription = "Asynchronous sockets 1.1 over the Linux epoll reactor";
constexpr const char* kStatus = "Running";

int VersionValue(WORD v) {
  return (v & 0xFF) * 256 + (v >> 8);
}
}  // namespace

int WSAStartup(WORD versionRequested, WSADATA* data) {
  if (data == nullptr) return WSAEFAULT;
  const int requested = VersionValue(versionRequested);
  if (requested < VersionValue(0x0001)) return WSAVERNOTSUPPORTED;  // below 1.0
  std::memset(data, 0, sizeof(WSADATA));
  data->wVersion = requested < VersionValue(kHighVersion) ? versionRequested : kHighVersion;
  data->wHighVersion = kHighVersion;
  std::strncpy(data->szDescription, kDescription, WSADESCRIPTION_LEN);
  std::strncpy(data->szSystemStatus, kStatus, WSASYS_STATUS_LEN);
  data->iMaxSockets = 32767;
  data->iMaxUdpDg = 65467;
  data->lpVendorInfo = 0;
  std::lock_guard lock(sockimpl::Mutex());
  sockimpl::gStartCount.fetch_add(1, std::memory_order_acq_rel);
  return 0;
}

int WSACleanup() {
  std::lock_guard lock(sockimpl::Mutex());
  const int count = sockimpl::gStartCount.load(std::memory_order_acquire);
  if (count <= 0) return wsaerr::Fail(WSANOTINITIALISED);
  if (count == 1) {
    // The last clean-up: every socket and look-up goes, silently.
    sockimpl::Table().ForEachLive([](sockimpl::Sock& s, SOCKET) {
      sockimpl::CloseKernel(s);
      sockimpl::Table().Retire(&s);
    });
    sockimpl::CancelAllLookups();
  }
  sockimpl::gStartCount.store(count - 1, std::memory_order_release);
  return 0;
}

}  // namespace plat
