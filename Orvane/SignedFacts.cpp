#include "Orvane/SignedFacts.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "HttpProt/HttpCli.h"
#include "Orvane/Orvane.h"
#include "Orvane/PageEntries.h"

namespace {

std::string Entry(const std::string& Name) {
  return "The " + Name + " entry";
}

// The size and hash a page gives for a file at Url, read into File; a refusal otherwise.
std::string ReadFileFacts(const std::string& Url, const std::string& Size, const std::string& Hash,
                          const std::string& SizeName, const std::string& HashName,
                          TDownloadExpectation& File) {
  File.URL = Url;
  if (!ReadByteCount(Size, File.Size))
    return Size.empty() ? Entry(SizeName) +
                              " is missing: the file's size in bytes must come with "
                              "its hash"
                        : Entry(SizeName) + " \"" + Size + "\" is no byte count";
  File.SHA256 = HashHex(Hash);
  if (File.SHA256.empty())
    return Hash.empty() ? Entry(HashName) + " is missing"
                        : Entry(HashName) + " \"" + Hash + "\" is not 64 hex digits";
  return {};
}

// The read-me's size and hash, when the page names one.
std::string ReadReadMeFacts(const std::string& Url, const std::string& Size,
                            const std::string& Hash, const std::string& SizeName,
                            const std::string& HashName, TDownloadExpectation& File) {
  if (Url.empty() && Size.empty() && Hash.empty()) return {};
  if (Url.empty()) return Entry(SizeName) + " and " + Entry(HashName) + " name no read-me";
  return ReadFileFacts(Url, Size, Hash, SizeName, HashName, File);
}

bool IsPublicKey(const std::string& Key) {
  std::string raw;
  return DecodeBase64(Key, raw) && raw.size() == 32;
}

// Whether any of Keys signed Text.
bool SignedByAny(const std::vector<std::string>& Keys, const std::string& Text,
                 const std::string& Signature) {
  for (const std::string& key : Keys)
    if (Ed25519Verify(key, Text, Signature)) return true;
  return false;
}

// The signature checked over the facts, in the current form; a page signed in the first
// form is told apart, since re-signing it is all it takes.
std::string CheckSignature(const TSignedFacts& Facts, const TPageFacts& Page,
                           const TTrustRules& Rules) {
  std::string text;
  try {
    text = SignedText(Facts);
  } catch (const ESignatureError& e) {
    return "The page's signed entries cannot be checked: " + e.Message();
  }
  if (SignedByAny(Rules.Keys, text, Page.Signature)) return {};
  try {
    if (SignedByAny(Rules.Keys, SignedTextV1(Facts), Page.Signature))
      return "The page is signed in the old form (orvane-signed-update-1), which leaves its "
             "author, read-mes and start parameters to whoever edits it: re-sign it with the "
             "current orvane-sign";
  } catch (const ESignatureError&) {
  }
  return "The page's signature does not match its entries and the PublicKey: the page was "
         "changed after it was signed, or signed with another key";
}

// After a valid signature: the page's product and lifetime.
std::string CheckSignedPage(const TPageFacts& Page, const TTrustRules& Rules) {
  if (!Rules.ExpectedProduct.empty() && Page.Product != Rules.ExpectedProduct)
    return "The signed page is for the product \"" + Page.Product + "\", not for \"" +
           Rules.ExpectedProduct + "\" (ExpectedProduct)";
  // A page that never expires can be played back for ever: the user would never hear of
  // the fix that follows it.
  if (Page.Expires.empty() && !Rules.AllowUnexpiring)
    return "The signed page has no " + Rules.Names.Expires +
           " entry, so a stale copy of it would stay valid for ever; such pages are accepted "
           "only with AllowUnexpiringPages";
  // A stale copy, kept and served by someone on the way, would hide every later fix.
  if (!Page.Expires.empty() && TodayUtc() > Page.Expires)
    return "The signed page expired on " + Page.Expires;
  return {};
}

}  // namespace

TPageFacts PageFactsOf(const std::map<std::string, std::string>& Entries) {
  const auto get = [&](const char* Name) {
    const auto it = Entries.find(Name);
    return it == Entries.end() ? std::string() : it->second;
  };
  TPageFacts p;
  p.Product = get("Product");
  p.Version = get("Version");
  p.Date = get("Date");
  p.Author = get("Author");
  p.Download = get("Download");
  p.Size = get("Size");
  p.SHA256 = get("SHA256");
  p.Expires = get("Expires");
  p.RunParams = get("Params");
  p.Redirect = get("Redirect");
  p.ReadMe = get("ReadMe");
  p.ReadMeSize = get("ReadMeSize");
  p.ReadMeSHA256 = get("ReadMeSHA256");
  p.ReadMeExt = get("ReadMeExt");
  p.ReadMeExtSize = get("ReadMeExtSize");
  p.ReadMeExtSHA256 = get("ReadMeExtSHA256");
  p.Signature = get("Signature");
  return p;
}

std::vector<std::pair<std::string, std::string>> SignedPageEntries(const TSignedFacts& Facts,
                                                                   const std::string& Signature) {
  std::vector<std::pair<std::string, std::string>> e;
  const auto add = [&e](const std::string& Name, const std::string& Value) {
    if (!Value.empty()) e.emplace_back(Name, Value);
  };
  add("Product", Facts.Product);
  add("Version", Facts.Version);
  add("Date", Facts.Date);
  add("Author", Facts.Author);
  add("Download", Facts.URL);
  add("Size", std::to_string(Facts.Size));
  add("SHA256", Facts.SHA256);
  add("Expires", Facts.Expires);
  add("Params", Facts.RunParams);
  add("Redirect", Facts.Redirect);
  for (const auto& [name, file] :
       {std::pair<std::string, const TDownloadExpectation*>{"ReadMe", &Facts.ReadMe},
        {"ReadMeExt", &Facts.ReadMeExt}}) {
    if (file->URL.empty()) continue;
    add(name, file->URL);
    add(name + "Size", std::to_string(file->Size));
    add(name + "SHA256", file->SHA256);
  }
  add("Signature", Signature);
  return e;
}

TTrustVerdict VerifySignedFacts(const TPageFacts& Page, const TTrustRules& Rules) {
  TTrustVerdict v;
  const TFactNames& n = Rules.Names;
  const bool keyed = !Rules.Keys.empty();
  for (const std::string& key : Rules.Keys)
    if (!IsPublicKey(key)) {
      v.Refusal = "The PublicKey is not an Ed25519 public key (32 bytes in Base64)";
      return v;
    }
  if (keyed && Page.Signature.empty()) {
    v.Refusal = "The page is not signed (" + Entry(n.Signature) +
                " is missing), and only updates signed by the publisher's key are accepted";
    return v;
  }
  // Without a key, only a page that gives its file's hash has something to check.
  if (!keyed && Page.SHA256.empty()) return v;
  TDownloadExpectation update;
  v.Refusal = ReadFileFacts(Page.Download, Page.Size, Page.SHA256, n.Size, n.SHA256, update);
  if (!v.Refusal.empty()) return v;
  if (!keyed) {
    // Unsigned, the read-mes' own entries prove nothing: they are left alone.
    v.Update = update;
    return v;
  }
  TSignedFacts facts;
  facts.Product = Page.Product;
  facts.Version = Page.Version;
  facts.Date = Page.Date;
  facts.Author = Page.Author;
  facts.URL = update.URL;
  facts.Size = update.Size;
  facts.SHA256 = update.SHA256;
  facts.Expires = Page.Expires;
  facts.RunParams = Page.RunParams;
  facts.Redirect = Page.Redirect;
  v.Refusal = ReadReadMeFacts(Page.ReadMe, Page.ReadMeSize, Page.ReadMeSHA256, n.ReadMeSize,
                              n.ReadMeSHA256, facts.ReadMe);
  if (v.Refusal.empty())
    v.Refusal = ReadReadMeFacts(Page.ReadMeExt, Page.ReadMeExtSize, Page.ReadMeExtSHA256,
                                n.ReadMeExtSize, n.ReadMeExtSHA256, facts.ReadMeExt);
  if (v.Refusal.empty()) v.Refusal = CheckSignature(facts, Page, Rules);
  if (!v.Refusal.empty()) return v;
  v.Verified = true;
  v.Refusal = CheckSignedPage(Page, Rules);
  if (!v.Refusal.empty()) return v;
  v.Update = update;
  v.ReadMe = facts.ReadMe;
  v.ReadMeExt = facts.ReadMeExt;
  return v;
}

bool ParsePublicKeys(const std::string& Text, std::vector<std::string>& Keys, std::string& Error) {
  std::vector<std::string> keys;
  std::size_t start = 0;
  int line = 0;
  while (start < Text.size()) {
    std::size_t end = Text.find('\n', start);
    if (end == std::string::npos) end = Text.size();
    std::string key = Text.substr(start, end - start);
    start = end + 1;
    ++line;
    while (!key.empty() && (key.back() == '\r' || key.back() == ' ' || key.back() == '\t'))
      key.pop_back();
    if (key.empty()) continue;
    if (!IsPublicKey(key)) {
      Error = "line " + std::to_string(line) +
              " is not an Ed25519 public key (32 bytes in Base64, as orvane-sign keygen prints "
              "it)";
      return false;
    }
    keys.push_back(key);
  }
  if (keys.empty()) {
    Error = "no public key given";
    return false;
  }
  Keys = std::move(keys);
  return true;
}

bool ReadKeyFile(const std::string& Path, std::string& Text, std::string& Error) {
  // A key file holds a few lines; anything much larger is not one.
  constexpr std::size_t kMaxKeyFile = 64 * 1024;
  std::ifstream in(Path, std::ios::binary);
  if (!in) {
    Error = "cannot read \"" + Path + "\": " + std::strerror(errno);
    return false;
  }
  std::string text(kMaxKeyFile + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad() || text.size() > kMaxKeyFile) {
    Error = "\"" + Path + "\" is no key file (" +
            (in.bad() ? std::string("read error") : std::string("too large")) + ")";
    return false;
  }
  Text = std::move(text);
  return true;
}

bool PastByteLimit(const THttpCli& Cli, std::uint64_t Limit) {
  return (Cli.ContentLength() > 0 && static_cast<std::uint64_t>(Cli.ContentLength()) > Limit) ||
         (Cli.RcvdCount() > 0 && static_cast<std::uint64_t>(Cli.RcvdCount()) > Limit);
}

std::string ExpectationFault(const TDownloadExpectation& Expected, const char* What,
                             std::uint64_t Written, const std::string& Hash) {
  const std::string what = What;
  if (Written != Expected.Size)
    return what + " has " + FormatThousands(static_cast<std::int64_t>(Written)) +
           " bytes, not the " + FormatThousands(static_cast<std::int64_t>(Expected.Size)) +
           " the page gives";
  if (HashHex(Hash) != Expected.SHA256)
    return what + "'s SHA-256 is " + Hash + ", not the " + Expected.SHA256 + " the page gives";
  return {};
}
