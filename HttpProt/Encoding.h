// One-line uuencode and base64 encoders (the client's Basic credentials use base64).
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Export.h"

// Stored in one byte, in this order.
enum THttpEncoding : std::uint8_t { encUUEncode, encBase64, encMime };

// Encodes Len bytes from Buf into a single line: no line breaks, no length limit.
// Uuencode: a length character, then four characters per started group of three bytes (a
// short last group is completed with zero bytes), no padding character. Base64 and mime
// are the same: "=" pads to a multiple of four, and empty data gives an empty line.
// A negative Len, or a null Buf, is taken as no data.
ORV_API std::string EncodeLine(THttpEncoding Encoding, const void* Buf, std::int32_t Len);

// EncodeLine over the bytes of Value.
ORV_API std::string EncodeStr(THttpEncoding Encoding, const std::string& Value);
