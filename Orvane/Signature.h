// What a signed update rests on: SHA-256 over the update file as its bytes arrive,
// Ed25519 keys and signatures (keys and signatures travel as Base64 text), and the exact
// text that a page's signature covers.
//
// The signed text covers every entry a check acts on or shows, byte for byte (each line
// ends with a line feed, no carriage return; an entry the page does not give is empty):
//
//   orvane-signed-update-2
//   Product: <product name>
//   Version: <version>
//   Date: <date, as the page writes it>
//   Author: <author>
//   URL: <the download address, absolute>
//   Size: <the file's size in bytes, decimal, no leading zeros>
//   SHA256: <the file's SHA-256, 64 lower-case hex digits>
//   Expires: <YYYY-MM-DD, the last day the page is valid (UTC); empty: never>
//   Params: <the parameters the update is started with>
//   Redirect: <the redirect address>
//   ReadMe: <the read-me's address>
//   ReadMeSize: <its size in bytes; empty without a read-me>
//   ReadMeSHA256: <its SHA-256; empty without a read-me>
//   ReadMeExt: <the external read-me's address>
//   ReadMeExtSize: <its size in bytes; empty without one>
//   ReadMeExtSHA256: <its SHA-256; empty without one>
//
// The first line keeps a signature over anything else made with the same key from
// passing for one over an update, and tells this form from the first one, which left the
// parameters, the author and the read-mes to whoever edits the page. Values are the
// page's contents as they stand; a value with a control character (a line break above
// all) cannot be signed, so no value can forge a line of its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Host/SysUtils.h"
#include "Platform/Export.h"

// A key, signature or text that cannot be used; the message says why.
class ORV_API ESignatureError : public Exception {
 public:
  using Exception::Exception;
};

// SHA-256 fed in pieces of any size.
class ORV_API TSha256 {
 public:
  using TDigest = std::array<std::uint8_t, 32>;

  TSha256();
  ~TSha256();
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;

  void Update(const void* Data, std::size_t Len);
  void Update(const std::string& Data) { Update(Data.data(), Data.size()); }
  // The digest of everything fed since the start (or the last Final); starts over.
  TDigest Final();
  // Final as 64 lower-case hex digits.
  std::string FinalHex();

  // The digest of Data, in hex.
  static std::string HexOf(const std::string& Data);
  static std::string Hex(const TDigest& Digest);

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// Standard Base64 with padding (one line, no line breaks).
ORV_API std::string EncodeBase64(const std::string& Bytes);
// Strict: the standard alphabet, padded to a multiple of four, nothing else (no blanks,
// no line breaks); false for anything else.
ORV_API bool DecodeBase64(const std::string& Text, std::string& Bytes);

// A new key pair: the private key (the 32-byte seed) and the public key, both in Base64.
struct ORV_API TEd25519Keys {
  std::string PrivateKey;
  std::string PublicKey;
};
ORV_API TEd25519Keys Ed25519GenerateKeys();
// The public key of a private key; ESignatureError for one that is not 32 bytes of Base64.
ORV_API std::string Ed25519PublicKeyOf(const std::string& PrivateKey);
// The signature (64 bytes, in Base64) of Message; ESignatureError for a bad private key.
ORV_API std::string Ed25519Sign(const std::string& PrivateKey, const std::string& Message);
// Whether Signature is PublicKey's over Message. Anything malformed (a key or signature
// of the wrong length, not Base64) is simply not a valid signature.
ORV_API bool Ed25519Verify(const std::string& PublicKey, const std::string& Message,
                           const std::string& Signature);

// A file a page names and what it must be: its address, size and SHA-256 (hex; lower
// case once checked).
struct ORV_API TDownloadExpectation {
  std::string URL;
  std::uint64_t Size = 0;
  std::string SHA256;
};

// The facts of an update that a signature covers.
struct ORV_API TSignedFacts {
  std::string Product;
  std::string Version;
  std::string Date;
  std::string Author;
  std::string URL;
  std::uint64_t Size = 0;
  std::string SHA256;   // hex, either case (written in lower case)
  std::string Expires;  // YYYY-MM-DD or empty
  std::string RunParams;
  std::string Redirect;
  // An empty URL: no such read-me (its size and hash are then not written).
  TDownloadExpectation ReadMe;
  TDownloadExpectation ReadMeExt;
};
// The signed text of Facts (see above); ESignatureError naming the entry that cannot be
// part of it (a control character, a hash that is not 64 hex digits, a date that is not
// a day of the calendar written YYYY-MM-DD, an empty product, version or address).
ORV_API std::string SignedText(const TSignedFacts& Facts);
// The text the first form signed (orvane-signed-update-1: product, version, date,
// address, size, hash, expiry): kept only to tell a page signed in it, which is refused.
ORV_API std::string SignedTextV1(const TSignedFacts& Facts);
// Whether Text is a day of the calendar written YYYY-MM-DD (2027-02-31 is not).
ORV_API bool IsCalendarDate(const std::string& Text);
// Today in UTC as YYYY-MM-DD, the form Expires is written in: a page expires after that
// day has ended everywhere, whatever the reader's zone.
ORV_API std::string TodayUtc();
// The day Days from today in UTC, written the same way.
ORV_API std::string UtcDateInDays(int Days);
