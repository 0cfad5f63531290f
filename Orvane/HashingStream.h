// A stream that passes everything on to another one and keeps the SHA-256 and the count of
// the bytes written to it, so that a download is hashed as it arrives, not read back.
//
// The hash itself runs on a thread of the stream's own, fed in batches: on a fast network
// the thread that receives the download would otherwise spend as long hashing it as it
// spends receiving it. Hashing inline costs a little less processor time but adds the
// whole hash to the download's wall time; the thread, fed from the shared cache, costs
// little more than the copy into its batches. The thread exists from the first full batch
// to DigestHex or the stream's end, and touches nothing but its queue and its hash.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Host/Streams.h"
#include "Orvane/Signature.h"
#include "Platform/Export.h"

class ORV_API THashingStream : public TStream {
 public:
  explicit THashingStream(std::unique_ptr<TStream> Inner);
  ~THashingStream() override;
  THashingStream(const THashingStream&) = delete;
  THashingStream& operator=(const THashingStream&) = delete;

  std::string ClassName() const override { return "THashingStream"; }

  std::int32_t Read(void* buf, std::int32_t count) override { return FInner->Read(buf, count); }
  // Only the bytes the stream below took are hashed and counted.
  std::int32_t Write(const void* buf, std::int32_t count) override;
  // A move of the position means the bytes hashed are no longer those in the stream.
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() const override { return FInner->Size(); }
  void SetSize(std::int64_t newSize) override;

  std::uint64_t Written() const { return FWritten; }
  // The bytes were written one after the other from the start, with nothing moved or cut.
  bool Sequential() const { return !FRewritten; }
  // Empties the stream below and starts the hash and the count over, as for a new stream:
  // a download that the server sends again from its first byte.
  void Restart();
  // The SHA-256 of the bytes written, in lower-case hex; waits for the hash to catch up.
  // Nothing may be written afterwards.
  std::string DigestHex();

 private:
  // Bytes gathered before they go to the hash, and how many such batches may wait: few and
  // small enough that the worker reads them from the shared cache, not from memory, and a
  // hash slower than the network holds the download back rather than filling memory.
  static constexpr std::size_t BatchBytes = 128 * 1024;
  static constexpr std::size_t MaxQueuedBatches = 8;

  void Hand();
  void Run();
  void Stop();

  std::unique_ptr<TStream> FInner;
  std::uint64_t FWritten = 0;
  bool FRewritten = false;
  std::string FBatch;
  TSha256 FSha;  // the worker's while it runs
  std::thread FWorker;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::string> FQueue;
  std::vector<std::string> FSpare;  // batches hashed, kept for their buffers
  bool FClosed = false;
};
