#include "WSocket/SendQueue.h"

#include <algorithm>
#include <cstdint>

#include "WSockbuf/Buffer.h"

namespace {

using TChunkList = std::list<std::unique_ptr<TBuffer>>;
const TChunkList kNoChunks;

// Drained chunks of this thread's sockets, kept for the next chunk any of them opens: a
// bulk transfer would otherwise allocate and free a chunk (and its list node) every 1514
// bytes. Nodes move between lists by splicing, so reuse allocates nothing.
constexpr std::size_t kSpareChunks = 256;
thread_local TChunkList tSpareChunks;

void AppendChunk(TChunkList& Chunks, std::int32_t Size) {
  if (!tSpareChunks.empty() && tSpareChunks.front()->BufSize() == Size) {
    Chunks.splice(Chunks.end(), tSpareChunks, tSpareChunks.begin());
    return;
  }
  Chunks.push_back(std::make_unique<TBuffer>(Size));
}

void RetireFirstChunk(TChunkList& Chunks) {
  if (tSpareChunks.size() < kSpareChunks) {
    tSpareChunks.splice(tSpareChunks.end(), Chunks, Chunks.begin());
  } else {
    Chunks.pop_front();
  }
}

}  // namespace

TSendQueue::TSendQueue(std::int32_t ChunkSize)
    : FChunkSize(ChunkSize > 0 ? ChunkSize : DefaultChunkSize) {}

TSendQueue::~TSendQueue() = default;

const TBuffer* TSendQueue::First() const {
  return FChunks && !FChunks->empty() ? FChunks->front().get() : nullptr;
}

bool TSendQueue::Empty() const {
  // Only the first chunk can be drained while later ones hold bytes.
  if (!FChunks) return true;
  for (const auto& chunk : *FChunks)
    if (chunk->WritePos() > chunk->ReadPos()) return false;
  return true;
}

std::int64_t TSendQueue::Bytes() const {
  std::int64_t total = 0;
  if (!FChunks) return 0;
  for (const auto& chunk : *FChunks) total += chunk->WritePos() - chunk->ReadPos();
  return total;
}

void TSendQueue::Put(const void* Data, std::int32_t Len) {
  // A chunk takes nothing from a null address: the loop below would append chunks forever.
  if (Len <= 0 || Data == nullptr) return;
  if (!FChunks) FChunks = std::make_unique<TChunkList>();
  if (FChunks->empty()) AppendChunk(*FChunks, FChunkSize);
  TBuffer* chunk = FChunks->back().get();
  const char* p = static_cast<const char*>(Data);
  std::int32_t remaining = Len;
  for (;;) {
    const std::int32_t n = chunk->Write(p, remaining);
    if (n >= remaining) return;
    p += n;
    remaining -= n;
    AppendChunk(*FChunks, FChunkSize);
    chunk = FChunks->back().get();
  }
}

int TSendQueue::Gather(iovec* Pieces, int Max) const {
  int count = 0;
  if (!FChunks) return 0;
  for (auto it = FChunks->begin(); it != FChunks->end() && count < Max; ++it) {
    std::int32_t n = 0;
    const char* p = (*it)->Peek(n);
    if (n <= 0) continue;
    Pieces[count++] = iovec{const_cast<char*>(p), static_cast<std::size_t>(n)};
  }
  return count;
}

const char* TSendQueue::PeekFirst(std::int32_t& Len) const {
  for (const auto& chunk : FChunks ? *FChunks : kNoChunks) {
    const char* p = chunk->Peek(Len);
    if (Len > 0) return p;
  }
  Len = 0;
  return nullptr;
}

void TSendQueue::Remove(std::int64_t Len) {
  ReleaseDrained();
  while (Len > 0 && FChunks && !FChunks->empty()) {
    Len -=
        FChunks->front()->Remove(static_cast<std::int32_t>(std::min<std::int64_t>(Len, INT32_MAX)));
    ReleaseDrained();
  }
}

void TSendQueue::ReleaseDrained() {
  // A drained chunk's positions are both 0; the last one goes too, so that an idle
  // connection holds no chunk.
  if (!FChunks) return;
  while (!FChunks->empty() && FChunks->front()->WritePos() == 0) RetireFirstChunk(*FChunks);
  if (FChunks->empty()) FChunks.reset();
}

void TSendQueue::Clear() {
  FChunks.reset();
}

void TSendQueue::TakeFrom(TSendQueue& Other) {
  if (!Other.FChunks) return;
  if (!FChunks) {
    FChunks = std::move(Other.FChunks);
    return;
  }
  FChunks->splice(FChunks->end(), *Other.FChunks);
  Other.FChunks.reset();
}
