// An HTTP response head read without a connection: what each header line says, and
// whether the relocation it names may be followed. The client feeds it the lines it has
// split; events, failures and the socket stay the client's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "HttpProt/ContentRange.h"
#include "HttpProt/Url.h"
#include "Platform/Export.h"

// What the header lines of one response have said so far.
struct THttpResponseHead {
  bool LocationSeen = false;
  // Where the response's "location" leads (Refusal says why it cannot be followed).
  THttpTarget Location;
  std::int64_t ContentLength = -1;
  std::string ContentType;
  // A transfer coding the component does not decode; the body is then refused.
  std::string UnknownCoding;
  bool Chunked = false;
  // What a resumed download is checked against (blanks around them dropped; empty when
  // absent), and its range, as ParseContentRange reads it.
  std::string LastModified;
  std::string ETag;
  THttpContentRange ContentRange;
  bool ContentRangeSeen = false;
};

// What one header line was, beside what it set in the head.
struct THeadLine {
  enum TKind : std::uint8_t {
    Field,      // recorded only, or a field the head took in
    Status,     // "HTTP/1.0" or "HTTP/1.1" and a code: StatusCode, Text the reason phrase
    Challenge,  // "www-authenticate": Text the challenge
    Malformed,  // Text says what is wrong; the head is unchanged
  };
  TKind Kind = Field;
  std::int32_t StatusCode = 0;
  // Into the line (or a constant for Malformed): valid as long as the line is.
  std::string_view Text;
};

// Takes one non-empty header line into Head. A "location" is resolved against From, the
// request's current target, as a proxy would be asked for it when ViaProxy.
ORV_API THeadLine ParseHeadLine(THttpResponseHead& Head, std::string_view Line,
                                const THttpTarget& From, bool ViaProxy);

// A line that starts a document without any header ("<html>" in any case).
ORV_API bool StartsHeaderless(std::string_view Line);

enum class TRelocationVerdict : std::uint8_t {
  Follow,
  BadTarget,  // To.Refusal says why
  Downgrade,  // from https to http, not allowed
  TooMany,    // Count has reached Max
};

// Whether the request at From may go on to To, having been relocated Count times.
ORV_API TRelocationVerdict JudgeRelocation(const THttpTarget& From, const THttpTarget& To,
                                           std::int32_t Count, std::int32_t Max,
                                           bool AllowDowngrade);
