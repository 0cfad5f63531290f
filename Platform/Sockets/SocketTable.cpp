#include "Platform/SocketTable.h"

#include "Platform/KeptObjects.h"

namespace plat::sockimpl {

namespace {
// Keeps the low word of a handle below 0xFFFFFFFF, so no handle equals INVALID_SOCKET.
constexpr std::uint32_t kMaxSlots = 0x00FFFFFFu;
}  // namespace

std::mutex& Mutex() {
  static std::mutex* m = KeepForProcess(new std::mutex);  // used until the process ends
  return *m;
}

SocketTable& Table() {
  static SocketTable* t = KeepForProcess(new SocketTable);
  return *t;
}

Sock* SocketTable::Find(SOCKET handle) {
  const std::uint64_t low = handle & 0xFFFFFFFFu;
  if (low == 0 || low > size_) return nullptr;
  Sock& s = At(static_cast<std::uint32_t>(low - 1));
  if (!s.live || s.gen != static_cast<std::uint32_t>(handle >> 32)) return nullptr;
  return &s;
}

Sock* SocketTable::Insert(int fd, SOCKET* handle) {
  std::uint32_t i;
  if (!free_.empty()) {
    i = free_.back();
    free_.pop_back();
  } else {
    if (size_ >= kMaxSlots) return nullptr;
    if (size_ % kChunk == 0) chunks_.push_back(std::make_unique<Sock[]>(kChunk));
    i = size_++;
  }
  Sock& s = At(i);
  const std::uint32_t gen = s.gen;
  s = Sock{};
  s.gen = gen;
  s.index = i;
  s.fd = fd;
  s.live = true;
  ++live_;
  *handle = HandleOf(i, gen);
  return &s;
}

void SocketTable::Retire(Sock* s) {
  s->live = false;
  s->fd = -1;
  if (++s->gen == 0) s->gen = 1;
  free_.push_back(s->index);
  --live_;
}

}  // namespace plat::sockimpl
