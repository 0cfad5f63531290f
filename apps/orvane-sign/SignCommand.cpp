#include "SignCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "Keys.h"
#include "Orvane/EntryChecks.h"
#include "Orvane/Orvane.h"
#include "Orvane/SignedFacts.h"
#include "ToolArgs.h"

namespace {

// A page signed without an expiry date says so (--expires never); otherwise it is valid
// this many days.
constexpr int kDefaultValidDays = 30;

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

// The expiry of --expires: a day of the calendar that has not passed, none for "never",
// the default validity when not given; false with Error.
bool ReadExpiry(const TArgs& Args, std::string& Expires, std::string& Error) {
  if (!Args.Has("--expires")) {
    Expires = UtcDateInDays(kDefaultValidDays);
    return true;
  }
  Expires = Args.Value("--expires");
  if (Expires == "never") {
    Expires.clear();
    return true;
  }
  if (!IsCalendarDate(Expires))
    Error = "--expires \"" + Expires + "\" is no day of the calendar written YYYY-MM-DD";
  else if (Expires < TodayUtc())
    Error = "--expires " + Expires + " has passed (today is " + TodayUtc() + " in UTC)";
  return Error.empty();
}

// A read-me of --readme FILE --readme-url URL (or the -ext pair): both or neither.
bool ReadReadMe(const TArgs& Args, const std::string& Option, TDownloadExpectation& File,
                std::string& Error) {
  const std::string urlOption = Option + "-url";
  if (Args.Has(Option) != Args.Has(urlOption)) {
    Error = Option + " and " + urlOption + " go together";
    return false;
  }
  if (!Args.Has(Option)) return true;
  File.URL = Args.Value(urlOption);
  std::string fault = UrlFault(File.URL);
  if (fault.empty() && File.URL.find('"') != std::string::npos)
    fault = "a double quote cannot stand in a page";
  if (!fault.empty()) {
    Error = urlOption + " \"" + File.URL + "\": " + fault;
    return false;
  }
  return HashFile(Args.Value(Option), File.Size, File.SHA256, Error);
}

// The facts of the command line; false with Error for bad use.
bool ReadFacts(const TArgs& Args, TSignedFacts& Facts, std::string& Error) {
  for (const char* required : {"--key", "--url", "--version", "--product"})
    if (!Args.Has(required)) {
      Error = std::string(required) + " is missing";
      return false;
    }
  if (Args.Words.size() != 1) {
    Error = "sign takes exactly one FILE";
    return false;
  }
  Facts.Product = Args.Value("--product");
  Facts.Version = Args.Value("--version");
  Facts.Date = Args.Value("--date");
  Facts.Author = Args.Value("--author");
  Facts.URL = Args.Value("--url");
  Facts.RunParams = Args.Value("--params");
  if (const std::string fault = UrlFault(Facts.URL); !fault.empty()) {
    Error = "--url must be an absolute http:// or https:// address (" + fault + ")";
    return false;
  }
  // A date the check cannot read fails every check of the page, signed or not.
  if (!Facts.Date.empty()) {
    try {
      TOrvane(nullptr).ConvertProductDate(Facts.Date);
    } catch (const Exception&) {
      Error = "--date \"" + Facts.Date +
              "\" is no date the check reads (write it like \"Dec 7, 2026\")";
      return false;
    }
  }
  if (!ReadExpiry(Args, Facts.Expires, Error)) return false;
  // A page's content ends at the first double quote: such a value could not be read back.
  for (const std::string* v :
       {&Facts.Product, &Facts.Version, &Facts.Date, &Facts.Author, &Facts.URL, &Facts.RunParams})
    if (v->find('"') != std::string::npos) {
      Error = "a value with a double quote cannot stand in a page: " + *v;
      return false;
    }
  return true;
}

}  // namespace

cli::TProgram SignProgram(TArgs& Args) {
  return {
      "orvane-sign sign",
      "--key KEYFILE --url URL --version V --product NAME [OPTION...] FILE",
      "the signed entries of an update page",
      "Prints the entries of an update page for FILE, signed with KEYFILE: the product, "
      "version, address, size, SHA-256, expiry, the read-mes' sizes and SHA-256, and the "
      "signature over them all, one <META> line each.",
      {ArgOption(Args, "key", "KEYFILE",
                 "the private key file that signs (as \"orvane-sign keygen\" writes it)"),
       ArgOption(Args, "url", "URL",
                 "the absolute http:// or https:// address the update is fetched from"),
       ArgOption(Args, "version", "V", "the version the page offers"),
       ArgOption(Args, "product", "NAME", "the product the page is for"),
       ArgOption(Args, "date", "D", "the update's date, as the check reads it (\"Dec 7, 2026\")"),
       ArgOption(Args, "author", "A", "the page's Author entry"),
       ArgOption(Args, "params", "P", "the parameters the update is started with"),
       ArgOption(Args, "expires", "YYYY-MM-DD|never",
                 "the last day the page is valid, in UTC (default: 30 days from today); "
                 "never: no expiry, which checks refuse unless they allow unexpiring pages"),
       ArgOption(Args, "readme", "FILE", "the read-me, sized and hashed for the page"),
       ArgOption(Args, "readme-url", "URL", "the address of the read-me given by --readme"),
       ArgOption(Args, "readme-ext", "FILE", "the external read-me, sized and hashed"),
       ArgOption(Args, "readme-ext-url", "URL",
                 "the address of the external read-me given by --readme-ext")},
      ArgWords(Args),
      {}};
}

int Sign(const cli::TProgram& Program, const TArgs& Args) {
  std::string error;
  TSignedFacts facts;
  if (!ReadFacts(Args, facts, error)) return cli::UsageError(Program, error);
  std::string key;
  if (!ReadPrivateKey(Args.Value("--key"), key, error)) return Fail(kFailure, error);
  if (!HashFile(Args.Words[0], facts.Size, facts.SHA256, error) ||
      !ReadReadMe(Args, "--readme", facts.ReadMe, error) ||
      !ReadReadMe(Args, "--readme-ext", facts.ReadMeExt, error))
    return Fail(kFailure, error);
  std::string signature;
  try {
    signature = Ed25519Sign(key, SignedText(facts));
  } catch (const ESignatureError& e) {
    return Fail(kFailure, e.Message());
  }
  if (facts.Expires.empty())
    std::fprintf(stderr,
                 "orvane-sign: warning: --expires never: a stale copy of this page stays valid "
                 "for ever, and checks refuse it unless they allow unexpiring pages\n");
  for (const auto& [name, content] : SignedPageEntries(facts, signature))
    std::printf("<META HTTP-EQUIV=\"%s\" CONTENT=\"%s\">\n", name.c_str(), content.c_str());
  return kOk;
}
