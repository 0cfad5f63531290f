// The blocking resolver calls. Results live in per-thread storage, valid until the
// calling thread's next call of the same function.
#include <netdb.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "Platform/HostEntry.h"
#include "Platform/Resolver.h"
#include "Platform/SocketTable.h"
#include "Platform/WinsockErrors.h"

namespace plat {

servent* getservbyname(const char* name, const char* proto) {
  if (!sockimpl::CheckStarted()) return nullptr;
  if (name == nullptr) {
    wsaerr::Fail(WSAEFAULT);
    return nullptr;
  }
  thread_local servent entry;
  thread_local std::vector<char> buf(1024);
  for (;;) {
    servent* result = nullptr;
    const int rc = ::getservbyname_r(name, proto, &entry, buf.data(), buf.size(), &result);
    if (rc == ERANGE && buf.size() < 65536) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || result == nullptr) {
      wsaerr::Fail(WSANO_DATA);
      return nullptr;
    }
    return result;
  }
}

protoent* getprotobyname(const char* name) {
  if (!sockimpl::CheckStarted()) return nullptr;
  if (name == nullptr) {
    wsaerr::Fail(WSAEFAULT);
    return nullptr;
  }
  thread_local protoent entry;
  thread_local std::vector<char> buf(1024);
  for (;;) {
    protoent* result = nullptr;
    const int rc = ::getprotobyname_r(name, &entry, buf.data(), buf.size(), &result);
    if (rc == ERANGE && buf.size() < 65536) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || result == nullptr) {
      wsaerr::Fail(WSANO_DATA);
      return nullptr;
    }
    return result;
  }
}

hostent* gethostbyname(const char* name) {
  if (!sockimpl::CheckStarted()) return nullptr;
  if (name == nullptr) {
    wsaerr::Fail(WSAEFAULT);
    return nullptr;
  }
  const resolver::HostInfo info = resolver::Forward(name);
  if (info.error != 0) {
    wsaerr::Fail(info.error);
    return nullptr;
  }
  return hostentry::ThreadEntry(info);
}

hostent* gethostbyaddr(const char* addr, int len, int type) {
  if (!sockimpl::CheckStarted()) return nullptr;
  if (addr == nullptr || len != 4) {
    wsaerr::Fail(WSAEFAULT);
    return nullptr;
  }
  if (type != AF_INET) {
    wsaerr::Fail(WSAEAFNOSUPPORT);
    return nullptr;
  }
  std::uint32_t a;
  std::memcpy(&a, addr, 4);
  const resolver::HostInfo info = resolver::Reverse(a);
  if (info.error != 0) {
    wsaerr::Fail(info.error);
    return nullptr;
  }
  return hostentry::ThreadEntry(info);
}

int gethostname(char* name, int namelen) {
  if (!sockimpl::CheckStarted()) return SOCKET_ERROR;
  if (name == nullptr || namelen <= 0) return wsaerr::Fail(WSAEFAULT);
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) < 0) return wsaerr::FailErrno();
  const std::size_t n = std::strlen(host);
  if (n + 1 > static_cast<std::size_t>(namelen)) return wsaerr::Fail(WSAEFAULT);
  std::memcpy(name, host, n + 1);
  return 0;
}

}  // namespace plat
