// A stream that passes everything on to another one and keeps the SHA-256 and the count of
// the bytes written to it, so that a download is hashed as it arrives, not read back.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "Host/Streams.h"
#include "Orvane/Signature.h"

class THashingStream : public TStream {
 public:
  explicit THashingStream(std::unique_ptr<TStream> Inner) : FInner(std::move(Inner)) {}

  std::string ClassName() const override { return "THashingStream"; }

  std::int32_t Read(void* buf, std::int32_t count) override { return FInner->Read(buf, count); }
  // Only the bytes the stream below took are hashed and counted.
  std::int32_t Write(const void* buf, std::int32_t count) override {
    const std::int32_t n = FInner->Write(buf, count);
    if (n > 0) {
      FSha.Update(buf, static_cast<std::size_t>(n));
      FWritten += static_cast<std::uint64_t>(n);
    }
    return n;
  }
  // A move of the position means the bytes hashed are no longer those in the stream.
  std::int64_t Seek(std::int64_t offset, int origin) override {
    const std::int64_t before = FInner->Seek(0, soFromCurrent);
    const std::int64_t after = FInner->Seek(offset, origin);
    if (after != before) FRewritten = true;
    return after;
  }
  std::int64_t Size() const override { return FInner->Size(); }
  void SetSize(std::int64_t newSize) override {
    FRewritten = true;
    FInner->SetSize(newSize);
  }

  std::uint64_t Written() const { return FWritten; }
  // The bytes written one after the other from the start, with nothing moved or cut.
  bool Sequential() const { return !FRewritten; }
  // The SHA-256 of the bytes written, in lower-case hex.
  std::string DigestHex() { return FSha.FinalHex(); }

 private:
  std::unique_ptr<TStream> FInner;
  TSha256 FSha;
  std::uint64_t FWritten = 0;
  bool FRewritten = false;
};
