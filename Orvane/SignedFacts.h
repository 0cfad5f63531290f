// The trust rules of a signed page, in one place for the update check and the signing
// tool: what a page's entries must be for its download (and its read-mes) to be trusted,
// and what each download is then held to as its bytes arrive.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Host/SysUtils.h"
#include "Orvane/Signature.h"
#include "Platform/Export.h"

class THttpCli;

// What a page says, entry by entry, as the page wrote it.
struct ORV_API TPageFacts {
  std::string Product;
  std::string Version;
  std::string Date;
  std::string Author;
  std::string Download;
  std::string Size;
  std::string SHA256;
  std::string Expires;
  std::string RunParams;
  std::string Redirect;
  std::string ReadMe;
  std::string ReadMeSize;
  std::string ReadMeSHA256;
  std::string ReadMeExt;
  std::string ReadMeExtSize;
  std::string ReadMeExtSHA256;
  std::string Signature;
  // Date as a day of the calendar, decoded by the reader under its date format (0: none
  // given); no entry of its own, so never signed.
  TDateTime DateValue = 0;
};

// The names a page gives the entries a refusal may name: those of the page's tags.
struct ORV_API TFactNames {
  std::string Size = "Size";
  std::string SHA256 = "SHA256";
  std::string Signature = "Signature";
  std::string Expires = "Expires";
  std::string ReadMeSize = "ReadMeSize";
  std::string ReadMeSHA256 = "ReadMeSHA256";
  std::string ReadMeExtSize = "ReadMeExtSize";
  std::string ReadMeExtSHA256 = "ReadMeExtSHA256";
};

// The facts of a page read by the default entry names, as orvane-sign writes them.
ORV_API TPageFacts PageFactsOf(const std::map<std::string, std::string>& Entries);
// The other way: the entries (default names, in the signed order, the empty ones left
// out) that give Facts and their Signature.
ORV_API std::vector<std::pair<std::string, std::string>> SignedPageEntries(
    const TSignedFacts& Facts, const std::string& Signature);

struct ORV_API TTrustRules {
  // The publisher's public keys (Base64); any of them may have signed the page. None: the
  // page's size and hash, when it gives them, are checked against corruption only.
  std::vector<std::string> Keys;
  // With a key: the product the page must be for; empty: any.
  std::string ExpectedProduct;
  // With a key: a page without Expires is accepted (it can be played back for ever).
  bool AllowUnexpiring = false;
  TFactNames Names;
};

struct ORV_API TTrustVerdict {
  // Why the page is refused; empty when it is not.
  std::string Refusal;
  // The page carries a valid signature by one of the keys.
  bool Verified = false;
  // What the download, the read-me and the external read-me are held to; an empty URL:
  // nothing (no size and hash given, or, for a read-me, no key).
  TDownloadExpectation Update;
  TDownloadExpectation ReadMe;
  TDownloadExpectation ReadMeExt;
};

// The page checked against the rules: with a key, every entry must be signed (in the
// current form), the page must not have expired (nor lack an expiry, unless allowed) and
// must be for the expected product.
ORV_API TTrustVerdict VerifySignedFacts(const TPageFacts& Page, const TTrustRules& Rules);

// The public keys of Text, one a line (blank lines and line ends of either kind ignored);
// false with Error for a line that is no Ed25519 public key, or for no key at all.
ORV_API bool ParsePublicKeys(const std::string& Text, std::vector<std::string>& Keys,
                             std::string& Error);
// The whole of a small text file (a key file); false with Error naming the file.
ORV_API bool ReadKeyFile(const std::string& Path, std::string& Text, std::string& Error);

// Whether a request has announced or received more than Limit bytes: a body held to a
// size is stopped as soon as it passes it, so that no server can fill memory or disk.
ORV_API bool PastByteLimit(const THttpCli& Cli, std::uint64_t Limit);
// Why bytes received do not match what they are held to (What: "the file", "the
// read-me"), or empty when they do. Written is the count, Hash their SHA-256 in hex.
ORV_API std::string ExpectationFault(const TDownloadExpectation& Expected, const char* What,
                                     std::uint64_t Written, const std::string& Hash);
