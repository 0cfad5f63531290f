// Reading the information page: one META HTTP-EQUIV entry per line, its name between the
// two characters after the marker and the next double quote, its content after the first
// "CONTENT=" and one more character, up to the next double quote.
#include <algorithm>
#include <string_view>

#include "Host/StringList.h"
#include "Orvane/Orvane.h"

namespace {

// A name or a content ends at a double quote within this many characters, or is empty.
constexpr size_t kMaxPiece = 1000;

// The characters of line from start up to the next double quote within kMaxPiece of them;
// empty when there is none.
std::string QuotedPiece(const std::string& line, size_t start) {
  if (start >= line.size()) return {};
  const size_t quote = line.find('"', start);
  if (quote == std::string::npos || quote - start >= kMaxPiece) return {};
  return line.substr(start, quote - start);
}

// Where the upper-case key first stands in line, letters of line in either case; npos when
// nowhere. Every line of the page is searched, so the line is not copied to fold it.
size_t FindUpperKey(const std::string& line, std::string_view key) {
  const auto it = std::search(line.begin(), line.end(), key.begin(), key.end(), [](char c, char k) {
    return (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) == k;
  });
  return it == line.end() ? std::string::npos : static_cast<size_t>(it - line.begin());
}

}  // namespace

std::string LastUrlSegment(const std::string& Url) {
  const size_t slash = Url.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  return Url.substr(start, kMaxPiece);
}

std::string TOrvane::ExtractContent(const std::string& Line) const {
  // Without the marker the content is read from the ninth character, as if the
  // marker stood at position 0.
  const size_t marker = Line.find("CONTENT=");
  const size_t start = marker == std::string::npos ? 8 : marker + 9;
  return QuotedPiece(Line, start);
}

void TOrvane::ParseDocument(const TStrings& Lines) {
  const TOrvTags& tags = *FInfoTags;
  const struct {
    const std::string& Tag;
    std::string& Field;
  } targets[] = {
      {tags.ProductNameTag(), FProductName},    {tags.ReadMeTag(), FProductReadMe},
      {tags.ReadMeExtTag(), FProductReadMeExt}, {tags.VersionTag(), FProductVersion},
      {tags.DateTag(), FProductDateStr},        {tags.AuthorTag(), FProductAuthor},
      {tags.DownloadTag(), FDownloadURL},       {tags.RedirectTag(), FRedirectURL},
      {tags.RunParamsTag(), FRunParams},        {tags.SizeTag(), FDownloadSize},
      {tags.SHA256Tag(), FDownloadSHA256},      {tags.ExpiresTag(), FPageExpires},
      {tags.SignatureTag(), FPageSignature},
  };
  for (int i = 0; i < Lines.Count(); ++i) {
    const std::string& line = Lines.Strings(i);
    const size_t marker = FindUpperKey(line, "META HTTP-EQUIV");
    if (marker == std::string::npos) continue;
    // 15 characters of the marker and two more (normally =").
    const std::string name = QuotedPiece(line, marker + 17);
    for (const auto& t : targets)
      if (t.Tag == name) t.Field = ExtractContent(line);
  }
  if (!FProductDateStr.empty()) FProductDate = ConvertProductDate(FProductDateStr);
}
