#include "Orvane/Signature.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cctype>
#include <ctime>
#include <initializer_list>

#include "HttpProt/Encoding.h"
#include "Orvane/PageEntries.h"

namespace {

constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kSignatureBytes = 64;

struct TPkeyFree {
  void operator()(EVP_PKEY* Key) const { EVP_PKEY_free(Key); }
};
using TPkeyPtr = std::unique_ptr<EVP_PKEY, TPkeyFree>;
struct TMdCtxFree {
  void operator()(EVP_MD_CTX* Ctx) const { EVP_MD_CTX_free(Ctx); }
};
using TMdCtxPtr = std::unique_ptr<EVP_MD_CTX, TMdCtxFree>;

std::string RawKey(const std::string& Base64, const char* What) {
  std::string raw;
  if (!DecodeBase64(Base64, raw) || raw.size() != kKeyBytes)
    throw ESignatureError(std::string("not an Ed25519 ") + What + " (32 bytes in Base64)");
  return raw;
}

TPkeyPtr PrivateKeyOf(const std::string& PrivateKey) {
  const std::string seed = RawKey(PrivateKey, "private key");
  TPkeyPtr key(EVP_PKEY_new_raw_private_key(
      EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(seed.data()), seed.size()));
  if (!key) throw ESignatureError("cannot use the Ed25519 private key");
  return key;
}

std::string PublicOf(EVP_PKEY* Key) {
  std::string raw(kKeyBytes, '\0');
  std::size_t len = raw.size();
  if (EVP_PKEY_get_raw_public_key(Key, reinterpret_cast<unsigned char*>(raw.data()), &len) != 1 ||
      len != kKeyBytes)
    throw ESignatureError("cannot derive the Ed25519 public key");
  return EncodeBase64(raw);
}

bool HasControl(const std::string& Value) {
  for (const char c : Value) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return true;
  }
  return false;
}

void CheckValue(const char* Name, const std::string& Value) {
  if (HasControl(Value))
    throw ESignatureError(std::string(Name) + " holds a control character: it cannot be signed");
}

std::string CheckedHash(const std::string& Name, const std::string& Value) {
  const std::string hex = HashHex(Value);
  if (hex.empty()) throw ESignatureError(Name + " is not 64 hex digits");
  return hex;
}

// The facts both forms share, checked; the hash in lower case.
std::string CheckCommonFacts(const TSignedFacts& Facts) {
  const std::pair<const char*, const std::string*> lines[] = {{"Product", &Facts.Product},
                                                              {"Version", &Facts.Version},
                                                              {"Date", &Facts.Date},
                                                              {"URL", &Facts.URL},
                                                              {"Expires", &Facts.Expires}};
  for (const auto& [name, value] : lines) CheckValue(name, *value);
  if (Facts.Product.empty()) throw ESignatureError("a signed update needs a product name");
  if (Facts.Version.empty()) throw ESignatureError("a signed update needs a version");
  if (Facts.URL.empty()) throw ESignatureError("a signed update needs a download address");
  const std::string sha = CheckedHash("SHA256", Facts.SHA256);
  if (!Facts.Expires.empty() && !IsCalendarDate(Facts.Expires))
    throw ESignatureError("Expires is not a date written YYYY-MM-DD");
  return sha;
}

// "Name: value" lines, each ending with a line feed.
std::string TextLines(std::initializer_list<std::pair<std::string, std::string>> Lines) {
  std::string text;
  for (const auto& [name, value] : Lines) text += name + ": " + value + "\n";
  return text;
}

// The three lines of a read-me: its address, size and hash, or three empty values.
std::string ReadMeLines(const std::string& Name, const TDownloadExpectation& File) {
  CheckValue(Name.c_str(), File.URL);
  const bool none = File.URL.empty();
  return TextLines({{Name, File.URL},
                    {Name + "Size", none ? "" : std::to_string(File.Size)},
                    {Name + "SHA256", none ? "" : CheckedHash(Name + "SHA256", File.SHA256)}});
}

}  // namespace

struct TSha256::TState {
  TMdCtxPtr Ctx{EVP_MD_CTX_new()};
  void Start() {
    if (!Ctx || EVP_DigestInit_ex(Ctx.get(), EVP_sha256(), nullptr) != 1)
      throw ESignatureError("SHA-256 is not available");
  }
};

TSha256::TSha256() : FState(std::make_unique<TState>()) {
  FState->Start();
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* Data, std::size_t Len) {
  if (Len > 0) EVP_DigestUpdate(FState->Ctx.get(), Data, Len);
}

TSha256::TDigest TSha256::Final() {
  TDigest digest{};
  unsigned int len = 0;
  EVP_DigestFinal_ex(FState->Ctx.get(), digest.data(), &len);
  FState->Start();
  return digest;
}

std::string TSha256::FinalHex() {
  return Hex(Final());
}

std::string TSha256::Hex(const TDigest& Digest) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(Digest.size() * 2);
  for (const std::uint8_t b : Digest) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

std::string TSha256::HexOf(const std::string& Data) {
  TSha256 sha;
  sha.Update(Data);
  return sha.FinalHex();
}

std::string EncodeBase64(const std::string& Bytes) {
  return EncodeStr(encBase64, Bytes);
}

bool DecodeBase64(const std::string& Text, std::string& Bytes) {
  if (Text.size() % 4 != 0) return false;
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::string out;
  out.reserve(Text.size() / 4 * 3);
  for (std::size_t i = 0; i < Text.size(); i += 4) {
    const bool last = i + 4 == Text.size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = Text[i + static_cast<std::size_t>(k)];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      // Padding stands only at the very end.
      if (pad > 0) return false;
      v[k] = value(c);
      if (v[k] < 0) return false;
    }
    const std::uint32_t group =
        static_cast<std::uint32_t>(v[0]) << 18 | static_cast<std::uint32_t>(v[1]) << 12 |
        static_cast<std::uint32_t>(v[2]) << 6 | static_cast<std::uint32_t>(v[3]);
    // Bits that padding leaves over must be zero: one text per byte string.
    if ((pad == 1 && (group & 0xFF) != 0) || (pad == 2 && (group & 0xFFFF) != 0)) return false;
    out += static_cast<char>(group >> 16);
    if (pad < 2) out += static_cast<char>((group >> 8) & 0xFF);
    if (pad < 1) out += static_cast<char>(group & 0xFF);
  }
  Bytes = std::move(out);
  return true;
}

TEd25519Keys Ed25519GenerateKeys() {
  std::string seed(kKeyBytes, '\0');
  if (RAND_priv_bytes(reinterpret_cast<unsigned char*>(seed.data()),
                      static_cast<int>(seed.size())) != 1)
    throw ESignatureError("no random bytes for a new key");
  TEd25519Keys keys;
  keys.PrivateKey = EncodeBase64(seed);
  keys.PublicKey = Ed25519PublicKeyOf(keys.PrivateKey);
  return keys;
}

std::string Ed25519PublicKeyOf(const std::string& PrivateKey) {
  const TPkeyPtr key = PrivateKeyOf(PrivateKey);
  return PublicOf(key.get());
}

std::string Ed25519Sign(const std::string& PrivateKey, const std::string& Message) {
  const TPkeyPtr key = PrivateKeyOf(PrivateKey);
  const TMdCtxPtr ctx(EVP_MD_CTX_new());
  std::string signature(kSignatureBytes, '\0');
  std::size_t len = signature.size();
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &len,
                     reinterpret_cast<const unsigned char*>(Message.data()), Message.size()) != 1 ||
      len != kSignatureBytes)
    throw ESignatureError("signing failed");
  return EncodeBase64(signature);
}

bool Ed25519Verify(const std::string& PublicKey, const std::string& Message,
                   const std::string& Signature) {
  std::string raw, signature;
  if (!DecodeBase64(PublicKey, raw) || raw.size() != kKeyBytes) return false;
  if (!DecodeBase64(Signature, signature) || signature.size() != kSignatureBytes) return false;
  const TPkeyPtr key(EVP_PKEY_new_raw_public_key(
      EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(raw.data()), raw.size()));
  const TMdCtxPtr ctx(EVP_MD_CTX_new());
  if (!key || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
    return false;
  return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                          signature.size(), reinterpret_cast<const unsigned char*>(Message.data()),
                          Message.size()) == 1;
}

bool IsCalendarDate(const std::string& Text) {
  if (Text.size() != 10 || Text[4] != '-' || Text[7] != '-') return false;
  for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (!std::isdigit(static_cast<unsigned char>(Text[i]))) return false;
  const int year = std::stoi(Text.substr(0, 4));
  const int month = std::stoi(Text.substr(5, 2));
  const int day = std::stoi(Text.substr(8, 2));
  if (month < 1 || month > 12 || day < 1) return false;
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= days[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::string SignedText(const TSignedFacts& Facts) {
  const std::string sha = CheckCommonFacts(Facts);
  const std::pair<const char*, const std::string*> more[] = {
      {"Author", &Facts.Author}, {"Params", &Facts.RunParams}, {"Redirect", &Facts.Redirect}};
  for (const auto& [name, value] : more) CheckValue(name, *value);
  return "orvane-signed-update-2\n" +
         TextLines({{"Product", Facts.Product},
                    {"Version", Facts.Version},
                    {"Date", Facts.Date},
                    {"Author", Facts.Author},
                    {"URL", Facts.URL},
                    {"Size", std::to_string(Facts.Size)},
                    {"SHA256", sha},
                    {"Expires", Facts.Expires},
                    {"Params", Facts.RunParams},
                    {"Redirect", Facts.Redirect}}) +
         ReadMeLines("ReadMe", Facts.ReadMe) + ReadMeLines("ReadMeExt", Facts.ReadMeExt);
}

std::string SignedTextV1(const TSignedFacts& Facts) {
  const std::string sha = CheckCommonFacts(Facts);
  return "orvane-signed-update-1\n" + TextLines({{"Product", Facts.Product},
                                                 {"Version", Facts.Version},
                                                 {"Date", Facts.Date},
                                                 {"URL", Facts.URL},
                                                 {"Size", std::to_string(Facts.Size)},
                                                 {"SHA256", sha},
                                                 {"Expires", Facts.Expires}});
}

std::string TodayUtc() {
  return UtcDateInDays(0);
}

std::string UtcDateInDays(int Days) {
  const std::time_t then = std::time(nullptr) + static_cast<std::time_t>(Days) * 24 * 3600;
  std::tm utc{};
  gmtime_r(&then, &utc);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
  return text;
}
