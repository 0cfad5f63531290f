// The blocking resolver calls. Results live in per-thread storage, valid until the
// calling thread's next call of the same function.
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "Platform/Resolver.h"
#include "Platform/SocketTable.h"
#include "Platform/Sockets/HostEntry.h"
#include "Platform/Sockets/WinsockErrors.h"

namespace plat {

namespace {

// Runs one of the C library's reentrant *_r look-ups into per-thread storage, growing
// the scratch buffer while the entry does not fit.
template <class Entry, class Lookup>
Entry* ReentrantLookup(const char* name, Lookup lookup) {
  if (!sockimpl::CheckStarted()) return nullptr;
  if (name == nullptr) {
    wsaerr::Fail(WSAEFAULT);
    return nullptr;
  }
  thread_local Entry entry;
  thread_local std::vector<char> buf(1024);
  for (;;) {
    Entry* result = nullptr;
    const int rc = lookup(&entry, buf.data(), buf.size(), &result);
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

// The calling thread's entry for a look-up's answer; nullptr, with the error, for a
// failed one.
hostent* ThreadAnswer(const resolver::HostInfo& info, int family = AF_INET) {
  if (const int err = hostentry::EntryError(info, family); err != 0) {
    wsaerr::Fail(err);
    return nullptr;
  }
  return hostentry::ThreadEntry(info, family);
}

hostent* ByName(const char* name, int family) {
  if (!sockimpl::CheckStarted()) return nullptr;
  if (name == nullptr) {
    wsaerr::Fail(WSAEFAULT);
    return nullptr;
  }
  return ThreadAnswer(resolver::Forward(name), family);
}

}  // namespace

servent* getservbyname(const char* name, const char* proto) {
  return ReentrantLookup<servent>(name, [&](servent* e, char* b, size_t n, servent** r) {
    return ::getservbyname_r(name, proto, e, b, n, r);
  });
}

protoent* getprotobyname(const char* name) {
  return ReentrantLookup<protoent>(name, [&](protoent* e, char* b, size_t n, protoent** r) {
    return ::getprotobyname_r(name, e, b, n, r);
  });
}

hostent* gethostbyname(const char* name) {
  return ByName(name, AF_INET);
}

hostent* gethostbyname6(const char* name) {
  return ByName(name, AF_INET6);
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
  return ThreadAnswer(resolver::Reverse(a));
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
