// orvane-sign: Ed25519 keys for update pages, the signed entries of a page, and a check of
// a published page and its file. Scripts call it, so the command line is fixed:
//
//   orvane-sign keygen KEYFILE
//   orvane-sign sign --key KEYFILE --url URL --version V --product NAME
//                    [--date D] [--expires YYYY-MM-DD] FILE
//   orvane-sign verify --public-key KEY PAGE-URL
//
// Exit status: 0 success, 1 verification failed, 2 bad use or any other failure.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Host/Streams.h"
#include "HttpProt/HttpProt.h"
#include "Orvane/Orvane.h"
#include "Orvane/Signature.h"
#include "PageEntries.h"

namespace {

constexpr int kOk = 0;
constexpr int kRefused = 1;
constexpr int kFailure = 2;

constexpr const char* Usage =
    "usage: orvane-sign keygen KEYFILE\n"
    "       orvane-sign sign --key KEYFILE --url URL --version V --product NAME\n"
    "                        [--date D] [--expires YYYY-MM-DD] FILE\n"
    "       orvane-sign verify --public-key KEY PAGE-URL\n";

// The page's entry names: those of the demo page for the product's facts, and the
// defaults of the signature's own entries.
constexpr const char* kProductEntry = "Product";
constexpr const char* kVersionEntry = "Version";
constexpr const char* kDateEntry = "Date";
constexpr const char* kDownloadEntry = "Download";
constexpr const char* kSizeEntry = "Size";
constexpr const char* kSha256Entry = "SHA256";
constexpr const char* kExpiresEntry = "Expires";
constexpr const char* kSignatureEntry = "Signature";

int BadUse(const std::string& Message) {
  std::fprintf(stderr, "orvane-sign: %s\n%s", Message.c_str(), Usage);
  return kFailure;
}

int Fail(int Status, const std::string& Message) {
  std::fprintf(stderr, "orvane-sign: %s\n", Message.c_str());
  return Status;
}

// Options of the form --name VALUE, and the words that are no option.
struct TArgs {
  std::map<std::string, std::string> Options;
  std::vector<std::string> Words;
};

bool ParseArgs(int argc, char** argv, int First, const std::vector<std::string>& Known, TArgs& Args,
               std::string& Error) {
  for (int i = First; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      if (std::find(Known.begin(), Known.end(), a) == Known.end()) {
        Error = "unknown option " + a;
        return false;
      }
      if (i + 1 >= argc) {
        Error = a + " needs a value";
        return false;
      }
      if (Args.Options.count(a) != 0) {
        Error = a + " given twice";
        return false;
      }
      Args.Options[a] = argv[++i];
    } else {
      Args.Words.push_back(a);
    }
  }
  return true;
}

bool IsHttpUrl(const std::string& Url) {
  return Url.rfind("http://", 0) == 0 || Url.rfind("https://", 0) == 0;
}

int KeyGen(const std::string& KeyFile) {
  const TEd25519Keys keys = Ed25519GenerateKeys();
  // Never over an existing file: it may hold the key every published page rests on.
  const int fd = ::open(KeyFile.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0)
    return Fail(kFailure, KeyFile + ": " +
                              (errno == EEXIST ? std::string("exists; not overwritten")
                                               : std::string(std::strerror(errno))));
  const std::string line = keys.PrivateKey + "\n";
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  if (::close(fd) != 0 || !written) {
    ::unlink(KeyFile.c_str());
    return Fail(kFailure, KeyFile + ": cannot write the key");
  }
  std::printf("%s\n", keys.PublicKey.c_str());
  return kOk;
}

// The private key of a key file: its first line.
bool ReadKeyFile(const std::string& Path, std::string& Key, std::string& Error) {
  std::ifstream in(Path);
  if (!in) {
    Error = Path + ": " + std::strerror(errno);
    return false;
  }
  std::getline(in, Key);
  if (!Key.empty() && Key.back() == '\r') Key.pop_back();
  return true;
}

// The size and SHA-256 of a file, read in one pass.
bool HashFile(const std::string& Path, std::uint64_t& Size, std::string& Hex, std::string& Error) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) {
    Error = Path + ": " + std::strerror(errno);
    return false;
  }
  TSha256 sha;
  std::vector<char> buf(1 << 16);
  Size = 0;
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    const auto n = static_cast<std::size_t>(in.gcount());
    sha.Update(buf.data(), n);
    Size += n;
  }
  if (in.bad()) {
    Error = Path + ": read error";
    return false;
  }
  Hex = sha.FinalHex();
  return true;
}

std::string MetaLine(const std::string& Name, const std::string& Content) {
  return "<META HTTP-EQUIV=\"" + Name + "\" CONTENT=\"" + Content + "\">";
}

int Sign(int argc, char** argv) {
  TArgs args;
  std::string error;
  if (!ParseArgs(argc, argv, 2, {"--key", "--url", "--version", "--product", "--date", "--expires"},
                 args, error))
    return BadUse(error);
  for (const char* required : {"--key", "--url", "--version", "--product"})
    if (args.Options.count(required) == 0) return BadUse(std::string(required) + " is missing");
  if (args.Words.size() != 1) return BadUse("sign takes exactly one FILE");
  TSignedFacts facts;
  facts.Product = args.Options["--product"];
  facts.Version = args.Options["--version"];
  facts.Date = args.Options["--date"];
  facts.URL = args.Options["--url"];
  facts.Expires = args.Options["--expires"];
  if (!IsHttpUrl(facts.URL)) return BadUse("--url must be an absolute http:// or https:// address");
  // A date the check cannot read fails every check of the page, signed or not.
  if (!facts.Date.empty()) {
    try {
      TOrvane(nullptr).ConvertProductDate(facts.Date);
    } catch (const Exception&) {
      return BadUse("--date \"" + facts.Date +
                    "\" is no date the check reads (write it like \"Dec 7, 2026\")");
    }
  }
  // A page's content ends at the first double quote: such a value could not be read back.
  for (const std::string* v : {&facts.Product, &facts.Version, &facts.Date, &facts.URL})
    if (v->find('"') != std::string::npos)
      return BadUse("a value with a double quote cannot stand in a page: " + *v);
  std::string key;
  if (!ReadKeyFile(args.Options["--key"], key, error)) return Fail(kFailure, error);
  if (!HashFile(args.Words[0], facts.Size, facts.SHA256, error)) return Fail(kFailure, error);
  std::string signature;
  try {
    signature = Ed25519Sign(key, SignedText(facts));
  } catch (const ESignatureError& e) {
    return Fail(kFailure, e.Message());
  }
  if (facts.Expires.empty())
    std::fprintf(stderr,
                 "orvane-sign: warning: no --expires: a stale copy of this page stays valid "
                 "for ever\n");
  std::printf("%s\n", MetaLine(kProductEntry, facts.Product).c_str());
  std::printf("%s\n", MetaLine(kVersionEntry, facts.Version).c_str());
  if (!facts.Date.empty()) std::printf("%s\n", MetaLine(kDateEntry, facts.Date).c_str());
  std::printf("%s\n", MetaLine(kDownloadEntry, facts.URL).c_str());
  std::printf("%s\n", MetaLine(kSizeEntry, std::to_string(facts.Size)).c_str());
  std::printf("%s\n", MetaLine(kSha256Entry, facts.SHA256).c_str());
  if (!facts.Expires.empty()) std::printf("%s\n", MetaLine(kExpiresEntry, facts.Expires).c_str());
  std::printf("%s\n", MetaLine(kSignatureEntry, signature).c_str());
  return kOk;
}

bool ParseSize(const std::string& Text, std::uint64_t& Size) {
  if (Text.empty() || Text.size() > 19 || (Text.size() > 1 && Text[0] == '0')) return false;
  Size = 0;
  for (const char c : Text) {
    if (c < '0' || c > '9') return false;
    Size = Size * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

int Verify(int argc, char** argv) {
  TArgs args;
  std::string error;
  if (!ParseArgs(argc, argv, 2, {"--public-key"}, args, error)) return BadUse(error);
  if (args.Options.count("--public-key") == 0) return BadUse("--public-key is missing");
  if (args.Words.size() != 1) return BadUse("verify takes exactly one PAGE-URL");
  const std::string publicKey = args.Options["--public-key"];
  std::string raw;
  if (!DecodeBase64(publicKey, raw) || raw.size() != 32)
    return BadUse("--public-key is not an Ed25519 public key (32 bytes in Base64)");
  const std::string pageUrl = args.Words[0];

  THttpCli http(nullptr);
  TMemoryStream page;
  http.SetURL(pageUrl);
  http.SetRcvdStream(&page);
  try {
    http.Get();
  } catch (const std::exception&) {
  }
  if (http.StatusCode() >= 300 || http.StatusCode() == 0)
    return Fail(kFailure, pageUrl + ": " + http.ReasonPhrase());
  const std::string body(static_cast<const char*>(page.Memory()),
                         static_cast<std::size_t>(page.Size()));
  std::map<std::string, std::string> entries = ReadPageEntries(body);
  auto entry = [&](const char* Name) { return entries.count(Name) ? entries[Name] : ""; };

  if (entry(kSignatureEntry).empty()) return Fail(kRefused, "the page carries no signature");
  TSignedFacts facts;
  facts.Product = entry(kProductEntry);
  facts.Version = entry(kVersionEntry);
  facts.Date = entry(kDateEntry);
  facts.URL = entry(kDownloadEntry);
  facts.SHA256 = entry(kSha256Entry);
  facts.Expires = entry(kExpiresEntry);
  if (!ParseSize(entry(kSizeEntry), facts.Size))
    return Fail(kRefused, "the page's size \"" + entry(kSizeEntry) + "\" is no byte count");
  std::string text;
  try {
    text = SignedText(facts);
  } catch (const ESignatureError& e) {
    return Fail(kRefused, "the page's entries cannot be signed ones: " + e.Message());
  }
  if (!Ed25519Verify(publicKey, text, entry(kSignatureEntry)))
    return Fail(kRefused, "the signature does not match the page's entries and this public key");
  std::printf("signature verified: %s %s\n", facts.Product.c_str(), facts.Version.c_str());
  if (!facts.Expires.empty() && TodayUtc() > facts.Expires)
    return Fail(kRefused, "the page expired on " + facts.Expires);

  // The file, hashed as it arrives and never saved; more than the signed size is refused
  // at once (a server that never stops).
  TSha256 sha;
  bool tooLong = false;
  http.SetRcvdStream(nullptr);
  http.SetURL(facts.URL);
  http.OnDocData = [&](TObject*, const void* Buffer, std::int32_t Len) {
    if (tooLong) return;
    if (static_cast<std::uint64_t>(http.RcvdCount()) > facts.Size) {
      tooLong = true;
      http.Abort();
      return;
    }
    sha.Update(Buffer, static_cast<std::size_t>(Len));
  };
  try {
    http.Get();
  } catch (const std::exception&) {
  }
  if (tooLong)
    return Fail(kRefused,
                "the file is longer than the signed " + std::to_string(facts.Size) + " bytes");
  if (http.StatusCode() >= 300 || http.StatusCode() == 0)
    return Fail(kFailure, facts.URL + ": " + http.ReasonPhrase());
  const auto got = static_cast<std::uint64_t>(http.RcvdCount());
  if (got != facts.Size)
    return Fail(kRefused, "the file has " + std::to_string(got) + " bytes, not the signed " +
                              std::to_string(facts.Size));
  const std::string hex = sha.FinalHex();
  // The signed text holds the hash in lower case, whatever the page wrote.
  if (hex != text.substr(text.find("\nSHA256: ") + 9, 64))
    return Fail(kRefused, "the file's SHA-256 is " + hex + ", not the signed one");
  std::printf("file verified: %llu bytes, SHA-256 %s\n", static_cast<unsigned long long>(got),
              hex.c_str());
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return BadUse("no command");
  const std::string command = argv[1];
  try {
    if (command == "keygen") {
      if (argc != 3) return BadUse("keygen takes exactly one KEYFILE");
      return KeyGen(argv[2]);
    }
    if (command == "sign") return Sign(argc, argv);
    if (command == "verify") return Verify(argc, argv);
  } catch (const std::exception& e) {
    return Fail(kFailure, e.what());
  }
  return BadUse("unknown command " + command);
}
