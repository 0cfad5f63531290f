// Checking the page a check has read against the publisher's key, and what its download is
// then held to. Whoever controls the server, the network or a proxy on the way writes the
// page: with a key, nothing of it counts unless the publisher signed it.
#include <cctype>

#include "Orvane/Orvane.h"
#include "Orvane/Signature.h"

namespace {

// A byte count as a page writes it: decimal digits only, no sign, no blank, no leading
// zero; at most 18 digits, so that it fits every count it is compared with.
bool ReadByteCount(const std::string& Text, std::uint64_t& Size) {
  if (Text.empty() || Text.size() > 18 || (Text.size() > 1 && Text[0] == '0')) return false;
  std::uint64_t n = 0;
  for (const char c : Text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  Size = n;
  return true;
}

// 64 hex digits in lower case, or empty for anything else.
std::string HashHex(const std::string& Text) {
  if (Text.size() != 64) return {};
  std::string hex;
  for (const char c : Text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return hex;
}

}  // namespace

bool TOrvane::VerifyPage() {
  FSignatureVerified = false;
  FDownloadChecked = false;
  const TOrvTags& tags = *FInfoTags;
  const bool keyed = !FPublicKey.empty();
  if (FRequireSignature && !keyed) {
    FLastError =
        "Only signed updates are accepted (RequireSignature), but no PublicKey is set to check "
        "a signature with";
    return false;
  }
  if (keyed) {
    std::string raw;
    if (!DecodeBase64(FPublicKey, raw) || raw.size() != 32) {
      FLastError = "The PublicKey is not an Ed25519 public key (32 bytes in Base64)";
      return false;
    }
    if (FPageSignature.empty()) {
      FLastError = "The page " + FLastPageURL + " is not signed (" +
                   EntryName(tags.SignatureTag(), "PageSignature") +
                   " is missing), and only updates signed by the publisher's key are accepted";
      return false;
    }
  }
  // Without a key, only a page that gives its file's hash has something to check.
  if (!keyed && FDownloadSHA256.empty()) return true;

  TSignedFacts facts;
  facts.Product = FProductName;
  facts.Version = FProductVersion;
  facts.Date = FProductDateStr;
  facts.URL = FDownloadURL;
  facts.SHA256 = FDownloadSHA256;
  facts.Expires = FPageExpires;
  const std::string sizeEntry = EntryName(tags.SizeTag(), "DownloadSize");
  if (!ReadByteCount(FDownloadSize, facts.Size)) {
    FLastError = FDownloadSize.empty()
                     ? sizeEntry + " is missing: the file's size in bytes must come with its hash"
                     : sizeEntry + " \"" + FDownloadSize + "\" is no byte count";
    return false;
  }
  const std::string hex = HashHex(FDownloadSHA256);
  if (hex.empty()) {
    FLastError = FDownloadSHA256.empty()
                     ? EntryName(tags.SHA256Tag(), "DownloadSHA256") + " is missing"
                     : EntryName(tags.SHA256Tag(), "DownloadSHA256") + " \"" + FDownloadSHA256 +
                           "\" is not 64 hex digits";
    return false;
  }
  if (keyed) {
    std::string text;
    try {
      text = SignedText(facts);
    } catch (const ESignatureError& e) {
      FLastError = "The page's signed entries cannot be checked: " + e.Message();
      return false;
    }
    if (!Ed25519Verify(FPublicKey, text, FPageSignature)) {
      FLastError =
          "The page's signature does not match its entries and the PublicKey: the page was "
          "changed after it was signed, or signed with another key";
      return false;
    }
    FSignatureVerified = true;
    // A stale copy, kept and served by someone on the way, would hide every later fix.
    if (!FPageExpires.empty() && TodayUtc() > FPageExpires) {
      FLastError = "The signed page expired on " + FPageExpires;
      return false;
    }
  }
  FCheckedSize = facts.Size;
  FCheckedSHA256 = hex;
  FDownloadChecked = true;
  return true;
}

bool TOrvane::ChecksDownload(const std::string& URL) const {
  return FDownloadChecked && URL == FDownloadURL;
}
