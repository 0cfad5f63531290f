// One fixed-capacity chunk of a socket's send queue: written at the back, drained from the
// front, linear (space in front of the read position comes back only once it is drained).
// Owned and used by one socket on that socket's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Host/Component.h"
#include "Platform/Export.h"

class ORV_API TBuffer : public TObject {
 public:
  // The capacity a request of 0 or less stands for.
  static constexpr std::int32_t DefaultBufSize = 1514;

  explicit TBuffer(std::int32_t Size);
  ~TBuffer() override;
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  std::string ClassName() const override { return "TBuffer"; }

  std::int32_t BufSize() const { return FBufSize; }
  // Unread bytes keep their offsets when the written part fits the new capacity. When it
  // does not, the unread bytes move to the front if they fit; otherwise the capacity stays
  // as it is, since shrinking would lose data. An allocation failure leaves the chunk as it was.
  void SetBufSize(std::int32_t NewSize);
  std::int32_t WritePos() const { return FWritePos; }
  std::int32_t ReadPos() const { return FReadPos; }

  // Copies up to Len bytes in; returns the count taken (0 when full).
  std::int32_t Write(const void* Data, std::int32_t Len);
  // Copies up to Len unread bytes out and consumes them; returns the count delivered.
  std::int32_t Read(void* Data, std::int32_t Len);
  // The unread bytes in place, without consuming them; nullptr and Len 0 when there are
  // none. Valid until the chunk is resized or destroyed.
  const char* Peek(std::int32_t& Len) const;
  // Consumes up to Len unread bytes without copying; returns the count discarded.
  std::int32_t Remove(std::int32_t Len);

 private:
  // Advances the read position; a drained chunk starts over at offset 0.
  void Consume(std::int32_t Len);

  std::unique_ptr<char[]> FData;
  std::int32_t FBufSize = 0;
  std::int32_t FWritePos = 0;
  std::int32_t FReadPos = 0;
};
