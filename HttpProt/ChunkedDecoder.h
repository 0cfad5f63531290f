// Decoding of a body sent with "Transfer-Encoding: chunked": hexadecimal chunk sizes
// (extensions ignored), the data, the last chunk and its trailer lines (dropped). Every
// size and line is bounded, so that no input overflows a count or grows without end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Platform/Export.h"

class ORV_API TChunkedDecoder {
 public:
  enum class TStep {
    Data,      // a run of body bytes is given
    NeedMore,  // the input is used up
    Done,      // the last chunk and its trailer have been read; the rest is not the body's
    Failed     // malformed: Error() says how
  };

  // Longest chunk-size line (extensions included) and longest trailer, in bytes.
  static constexpr std::size_t MaxSizeLine = 4096;
  static constexpr std::size_t MaxTrailer = 64 * 1024;
  // Chunk sizes from this one up are refused: far beyond any body, far below an overflow.
  static constexpr std::int64_t MaxChunkSize = std::int64_t{1} << 56;

  // Takes bytes from In up to End, advancing In, until a run of body bytes is found
  // (Data, DataLen; it lies inside the input) or another step is reached.
  TStep Next(const char*& In, const char* End, const char*& Data, std::size_t& DataLen);

  bool Done() const { return FState == TState::Done; }
  const std::string& Error() const { return FError; }

 private:
  enum class TState {
    Size,
    SizeBlank,
    Extension,
    SizeLf,
    Data,
    DataCr,
    DataLf,
    Trailer,
    Done,
    Failed
  };
  TStep Fail(const char* Why);

  TState FState = TState::Size;
  std::int64_t FSize = 0;    // the chunk size read so far, then the data bytes left
  std::size_t FDigits = 0;   // hexadecimal digits of the size
  std::size_t FLineLen = 0;  // bytes of the size line, or of the trailer line
  std::size_t FTrailer = 0;  // bytes of the trailer so far
  std::string FError;
};
