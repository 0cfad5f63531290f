// The data a socket has accepted from Send and the network has not taken yet: a list of
// fixed-size chunks, written at the back and drained from the front, that holds no memory
// while it is empty.
#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <list>
#include <memory>

class TBuffer;

class TSendQueue {
 public:
  // The capacity of a chunk unless the socket asks for another.
  static constexpr std::int32_t DefaultChunkSize = 1514;

  explicit TSendQueue(std::int32_t ChunkSize = DefaultChunkSize);
  ~TSendQueue();
  TSendQueue(const TSendQueue&) = delete;
  TSendQueue& operator=(const TSendQueue&) = delete;

  std::int32_t ChunkSize() const { return FChunkSize; }
  // Chunks held: 0 once everything has gone.
  std::size_t ChunkCount() const { return FChunks ? FChunks->size() : 0; }
  // The oldest chunk, or nullptr.
  const TBuffer* First() const;
  bool Empty() const;
  // Unsent bytes.
  std::int64_t Bytes() const;

  // Appends the bytes, opening chunks as the last one fills; a null address adds nothing.
  void Put(const void* Data, std::int32_t Len);
  // The unsent bytes of the first Max chunks, oldest first, as pieces for one gather
  // write; answers the number of pieces (0 when nothing is queued).
  int Gather(iovec* Pieces, int Max) const;
  // Chunks handed to the network in one gather write: 378 KiB of 1514-byte chunks, as
  // much as a loopback socket with a grown buffer takes at once.
  static constexpr int GatherChunks = 256;
  // The unsent bytes of the oldest chunk (nullptr and 0 when none).
  const char* PeekFirst(std::int32_t& Len) const;
  // The network took Len bytes from the front: they leave chunk by chunk, and chunks
  // that drain are released.
  void Remove(std::int64_t Len);
  // Drops everything queued.
  void Clear();
  // Moves every chunk of Other behind the ones held here; Other is left empty.
  void TakeFrom(TSendQueue& Other);

 private:
  // Drops drained chunks at the front.
  void ReleaseDrained();

  using TChunkList = std::list<std::unique_ptr<TBuffer>>;
  // Made when the first chunk is needed and dropped when the last one goes: an idle
  // connection's queue is one null pointer.
  std::unique_ptr<TChunkList> FChunks;
  std::int32_t FChunkSize;
};
