#include "VerifyCommand.h"

#include <cstdio>
#include <string>
#include <vector>

#include "Host/Streams.h"
#include "HttpProt/HttpProt.h"
#include "Orvane/Orvane.h"
#include "Orvane/PageEntries.h"
#include "Orvane/SignedFacts.h"
#include "ToolArgs.h"

namespace {

// The keys of every --public-key and --public-key-file; false with Error.
bool ReadKeys(const TArgs& Args, std::vector<std::string>& Keys, std::string& Error) {
  std::string text;
  if (Args.Has("--public-key"))
    for (const std::string& key : Args.Options.at("--public-key")) text += key + "\n";
  if (Args.Has("--public-key-file"))
    for (const std::string& path : Args.Options.at("--public-key-file")) {
      std::string file;
      if (!ReadKeyFile(path, file, Error)) return false;
      text += file + "\n";
    }
  if (!ParsePublicKeys(text, Keys, Error)) {
    Error = "--public-key: " + Error;
    return false;
  }
  return true;
}

// GET Url into Body, stopped past Limit bytes; false with Error (and TooLong).
bool Fetch(THttpCli& Http, const std::string& Url, std::uint64_t Limit, std::string& Body,
           bool& TooLong, std::string& Error) {
  TooLong = false;
  Body.clear();
  Http.SetURL(Url);
  Http.OnDocData = [&](TObject*, const void* Buffer, std::int32_t Len) {
    if (TooLong) return;
    if (PastByteLimit(Http, Limit)) {
      TooLong = true;
      Http.Abort();
      return;
    }
    Body.append(static_cast<const char*>(Buffer), static_cast<std::size_t>(Len));
  };
  try {
    Http.Get();
  } catch (const std::exception&) {
  }
  Http.OnDocData = nullptr;
  if (TooLong) return false;
  if (Http.StatusCode() >= 300 || Http.StatusCode() == 0) {
    Error = Url + ": " + Http.ReasonPhrase();
    return false;
  }
  return true;
}

// Fetches a signed file and holds it to its signed size and hash.
int CheckFile(THttpCli& Http, const TDownloadExpectation& Expected, const char* What) {
  std::string body, error;
  bool tooLong = false;
  if (!Fetch(Http, Expected.URL, Expected.Size, body, tooLong, error))
    return tooLong ? Fail(kRefused, std::string(What) + " is longer than the signed " +
                                        std::to_string(Expected.Size) + " bytes")
                   : Fail(kFailure, error);
  const std::string hex = TSha256::HexOf(body);
  if (const std::string fault = ExpectationFault(Expected, What, body.size(), hex); !fault.empty())
    return Fail(kRefused, fault);
  std::printf("%s verified: %zu bytes, SHA-256 %s\n", What, body.size(), hex.c_str());
  return kOk;
}

}  // namespace

cli::TProgram VerifyProgram(TArgs& Args) {
  return {
      "orvane-sign verify",
      "(--public-key KEY | --public-key-file F)... [OPTION...] PAGE-URL",
      "check a published update page and its files",
      "Fetches PAGE-URL and checks it by the update check's own rules: every entry "
      "signed by one of the keys, an expiry that has not passed, the product; then "
      "fetches each file the page signs and holds it to its signed size and SHA-256, "
      "saving nothing.",
      {ArgOption(Args, "public-key", "KEY",
                 "a publisher's Ed25519 public key in Base64; may be given many times", true),
       ArgOption(Args, "public-key-file", "F",
                 "the keys of file F, one a line (as KEYFILE.pub); may be given many times", true),
       ArgOption(Args, "product", "NAME", "the product the page must be for"),
       ArgOption(Args, "allow-unexpiring", "", "accept a page that gives no expiry")},
      ArgWords(Args),
      {}};
}

int Verify(const cli::TProgram& Program, const TArgs& Args) {
  std::string error;
  if (Args.Words.size() != 1) return cli::UsageError(Program, "verify takes exactly one PAGE-URL");
  TTrustRules rules;
  if (!ReadKeys(Args, rules.Keys, error)) return cli::UsageError(Program, error);
  rules.ExpectedProduct = Args.Value("--product");
  rules.AllowUnexpiring = Args.Has("--allow-unexpiring");
  const std::string pageUrl = Args.Words[0];

  THttpCli http(nullptr);
  std::string body;
  bool tooLong = false;
  if (!Fetch(http, pageUrl, TOrvane::DefaultMaxPageSize, body, tooLong, error))
    return Fail(kFailure, tooLong ? pageUrl + " is larger than a page may be" : error);
  const TPageFacts page = PageFactsOf(ReadPageEntries(body));
  const TTrustVerdict verdict = VerifySignedFacts(page, rules);
  if (verdict.Verified)
    std::printf("signature verified: %s %s\n", page.Product.c_str(), page.Version.c_str());
  if (!verdict.Refusal.empty()) return Fail(kRefused, verdict.Refusal);
  if (rules.ExpectedProduct.empty()) std::printf("product not checked (no --product)\n");
  for (const auto& [file, what] : {std::pair{&verdict.Update, "The file"},
                                   {&verdict.ReadMe, "The read-me"},
                                   {&verdict.ReadMeExt, "The external read-me"}}) {
    if (file->URL.empty()) continue;
    if (const int status = CheckFile(http, *file, what); status != kOk) return status;
  }
  return kOk;
}
