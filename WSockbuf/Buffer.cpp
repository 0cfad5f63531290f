#include "WSockbuf/Buffer.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(std::int32_t Size) {
  SetBufSize(Size);
}

TBuffer::~TBuffer() = default;

void TBuffer::SetBufSize(std::int32_t NewSize) {
  if (NewSize <= 0) NewSize = DefaultBufSize;
  if (NewSize == FBufSize) return;
  const std::int32_t unread = FWritePos - FReadPos;
  // Too small even for the unread bytes moved to the front.
  if (unread > NewSize) return;

  // Allocated before anything changes, so that a failure leaves the chunk intact.
  std::unique_ptr<char[]> block(new char[static_cast<size_t>(NewSize)]);
  if (unread > 0) {
    if (FWritePos <= NewSize) {
      std::memcpy(block.get(), FData.get(), static_cast<size_t>(FWritePos));
    } else {
      std::memcpy(block.get(), FData.get() + FReadPos, static_cast<size_t>(unread));
      FReadPos = 0;
      FWritePos = unread;
    }
  }
  FData = std::move(block);
  FBufSize = NewSize;
}

std::int32_t TBuffer::Write(const void* Data, std::int32_t Len) {
  const std::int32_t room = FBufSize - FWritePos;
  if (room <= 0 || Len <= 0 || Data == nullptr) return 0;
  const std::int32_t n = std::min(Len, room);
  std::memcpy(FData.get() + FWritePos, Data, static_cast<size_t>(n));
  FWritePos += n;
  return n;
}

std::int32_t TBuffer::Read(void* Data, std::int32_t Len) {
  const std::int32_t unread = FWritePos - FReadPos;
  if (unread <= 0 || Len <= 0 || Data == nullptr) return 0;
  const std::int32_t n = std::min(Len, unread);
  std::memcpy(Data, FData.get() + FReadPos, static_cast<size_t>(n));
  Consume(n);
  return n;
}

const char* TBuffer::Peek(std::int32_t& Len) const {
  const std::int32_t unread = FWritePos - FReadPos;
  if (unread <= 0) {
    Len = 0;
    return nullptr;
  }
  Len = unread;
  return FData.get() + FReadPos;
}

std::int32_t TBuffer::Remove(std::int32_t Len) {
  const std::int32_t unread = FWritePos - FReadPos;
  if (unread <= 0 || Len <= 0) return 0;
  const std::int32_t n = std::min(Len, unread);
  Consume(n);
  return n;
}

void TBuffer::Consume(std::int32_t Len) {
  FReadPos += Len;
  if (FReadPos == FWritePos) {
    FReadPos = 0;
    FWritePos = 0;
  }
}
