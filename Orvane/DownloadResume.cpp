#include "Orvane/DownloadResume.h"

#include "HttpProt/HttpCli.h"
#include "Orvane/Orvane.h"

namespace {

// A validator goes back to the server in a request line: only printable ASCII (and
// obs-text in an ETag) of a sane length, so nothing a server sends can add a line.
bool Printable(const std::string& Text, bool ObsText) {
  if (Text.empty() || Text.size() > 200) return false;
  for (const char ch : Text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c < 0x20 || c == 0x7f) || (c >= 0x80 && !ObsText)) return false;
  }
  return true;
}

// A strong ETag ("..." without W/), or else the Last-Modified date: what If-Range may carry
// (a weak ETag may not).
std::string ValidatorOf(const THttpCli& Cli) {
  const std::string& tag = Cli.ETag();
  if (tag.size() >= 2 && tag.front() == '"' && tag.back() == '"' &&
      tag.find('"', 1) == tag.size() - 1 && Printable(tag, true))
    return tag;
  if (Printable(Cli.LastModified(), false)) return Cli.LastModified();
  return {};
}

}  // namespace

std::vector<std::string> TDownloadResume::RequestLines(std::int64_t Have) const {
  if (!AsksRange(Have)) return {};
  std::vector<std::string> lines{"Range: bytes=" + std::to_string(Have) + "-"};
  if (!FValidator.empty()) lines.push_back("If-Range: " + FValidator);
  return lines;
}

TDownloadResume::TAnswer TDownloadResume::Judge(const THttpCli& Cli, std::int64_t Have,
                                                std::string& Why) {
  const std::int32_t status = Cli.StatusCode();
  if (status == 206 && AsksRange(Have)) {
    const THttpContentRange& range = Cli.ContentRange();
    if (!range.Valid() || range.First != Have || range.Total != FSize || range.Last != FSize - 1 ||
        (Cli.ContentLength() >= 0 && Cli.ContentLength() != range.Last - range.First + 1)) {
      Why = "The server answered the request for the rest of the file from byte " +
            FormatThousands(Have) + " of " + FormatThousands(FSize) +
            " with another part or another file; the download was stopped";
      return raRefused;
    }
    return raContinue;
  }
  if (status != 200) return raOther;
  // The whole file (again): what this answer says of it holds from now on.
  if (!FChecked) FSize = Cli.ContentLength();
  FValidator = ValidatorOf(Cli);
  FTaken = true;
  return Have > 0 ? raRestart : raContinue;
}
