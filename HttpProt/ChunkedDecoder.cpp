#include "HttpProt/ChunkedDecoder.h"

#include <algorithm>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

TChunkedDecoder::TStep TChunkedDecoder::Fail(const char* Why) {
  FState = TState::Failed;
  FError = Why;
  return TStep::Failed;
}

TChunkedDecoder::TStep TChunkedDecoder::Next(const char*& In, const char* End, const char*& Data,
                                             std::size_t& DataLen) {
  while (In < End) {
    switch (FState) {
      case TState::Data: {
        const auto avail = static_cast<std::int64_t>(End - In);
        const std::int64_t n = std::min(avail, FSize);
        Data = In;
        DataLen = static_cast<std::size_t>(n);
        In += n;
        FSize -= n;
        if (FSize == 0) FState = TState::DataCr;
        return TStep::Data;
      }
      case TState::Done:
        return TStep::Done;
      case TState::Failed:
        return TStep::Failed;
      default:
        break;
    }
    const char c = *In++;
    switch (FState) {
      case TState::Size:
      case TState::SizeBlank:
      case TState::Extension:
      case TState::SizeLf: {
        if (++FLineLen > MaxSizeLine) return Fail("chunk size line too long");
        const bool endOfLine = c == '\n' && (FState != TState::Size || FDigits > 0);
        if (endOfLine) {
          FLineLen = 0;
          FDigits = 0;
          FState = FSize == 0 ? TState::Trailer : TState::Data;
          break;
        }
        if (FState == TState::SizeLf) return Fail("malformed chunk size");
        if (FState == TState::Extension) {
          if (c == '\r') FState = TState::SizeLf;
          break;
        }
        const int digit = HexValue(c);
        if (FState == TState::Size && digit >= 0) {
          // Below MaxChunkSize before, so no overflow here.
          FSize = FSize * 16 + digit;
          if (FSize >= MaxChunkSize) return Fail("chunk size too large");
          ++FDigits;
          break;
        }
        if (FDigits == 0) return Fail("malformed chunk size");
        if (c == ' ' || c == '\t') {
          FState = TState::SizeBlank;
        } else if (c == ';') {
          FState = TState::Extension;
        } else if (c == '\r') {
          FState = TState::SizeLf;
        } else {
          return Fail("malformed chunk size");
        }
        break;
      }
      case TState::DataCr:
        if (c == '\r') {
          FState = TState::DataLf;
        } else if (c == '\n') {
          FState = TState::Size;
        } else {
          return Fail("malformed chunk end");
        }
        break;
      case TState::DataLf:
        if (c != '\n') return Fail("malformed chunk end");
        FState = TState::Size;
        break;
      case TState::Trailer:
        if (++FTrailer > MaxTrailer) return Fail("chunk trailer too long");
        if (c == '\n') {
          // An empty line ends the trailer, and the body with it.
          if (FLineLen == 0) {
            FState = TState::Done;
            return TStep::Done;
          }
          FLineLen = 0;
        } else if (c != '\r') {
          ++FLineLen;
        }
        break;
      default:
        break;
    }
  }
  if (FState == TState::Done) return TStep::Done;
  // Called again with nothing after a failure, it must not pass for a body still coming.
  if (FState == TState::Failed) return TStep::Failed;
  return TStep::NeedMore;
}
