#include "Orvane/HashingStream.h"

#include <system_error>
#include <utility>

THashingStream::THashingStream(std::unique_ptr<TStream> Inner) : FInner(std::move(Inner)) {}

THashingStream::~THashingStream() {
  Stop();
}

std::int32_t THashingStream::Write(const void* buf, std::int32_t count) {
  const std::int32_t n = FInner->Write(buf, count);
  if (n > 0) {
    FBatch.append(static_cast<const char*>(buf), static_cast<std::size_t>(n));
    FWritten += static_cast<std::uint64_t>(n);
    if (FBatch.size() >= BatchBytes) Hand();
  }
  return n;
}

std::int64_t THashingStream::Seek(std::int64_t offset, int origin) {
  const std::int64_t before = FInner->Seek(0, soFromCurrent);
  const std::int64_t after = FInner->Seek(offset, origin);
  if (after != before) FRewritten = true;
  return after;
}

void THashingStream::SetSize(std::int64_t newSize) {
  FRewritten = true;
  FInner->SetSize(newSize);
}

void THashingStream::Hand() {
  if (!FWorker.joinable() && !FClosed) {
    try {
      FWorker = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // No thread to be had: the hash is done here, as it comes.
      FClosed = true;
    }
  }
  if (!FWorker.joinable()) {
    FSha.Update(FBatch.data(), FBatch.size());
    FBatch.clear();
    return;
  }
  std::unique_lock<std::mutex> lock(FLock);
  FChanged.wait(lock, [this] { return FQueue.size() < MaxQueuedBatches; });
  FQueue.push_back(std::move(FBatch));
  FChanged.notify_all();
  // A buffer the worker is done with is used again: a fresh one would cost the page faults
  // of its first filling every time.
  FBatch.clear();
  if (!FSpare.empty()) {
    FBatch.swap(FSpare.back());
    FSpare.pop_back();
  }
}

void THashingStream::Run() {
  for (;;) {
    std::string batch;
    {
      std::unique_lock<std::mutex> lock(FLock);
      FChanged.wait(lock, [this] { return !FQueue.empty() || FClosed; });
      if (FQueue.empty()) return;
      batch = std::move(FQueue.front());
      FQueue.pop_front();
    }
    FSha.Update(batch.data(), batch.size());
    batch.clear();
    std::lock_guard<std::mutex> lock(FLock);
    FSpare.push_back(std::move(batch));
    FChanged.notify_all();
  }
}

void THashingStream::Stop() {
  if (!FWorker.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(FLock);
    FClosed = true;
    FChanged.notify_all();
  }
  FWorker.join();
}

void THashingStream::Restart() {
  Stop();
  FInner->SetSize(0);
  FInner->Seek(0, soFromBeginning);
  (void)FSha.Final();
  FBatch.clear();
  FQueue.clear();
  FWritten = 0;
  FRewritten = false;
  FClosed = false;
}

std::string THashingStream::DigestHex() {
  // The worker hashes everything queued before it ends; the rest follows here.
  Stop();
  FSha.Update(FBatch.data(), FBatch.size());
  FBatch.clear();
  return FSha.FinalHex();
}
