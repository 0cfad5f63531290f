// Reading the information page into the component's fields, by the rules of PageEntries.
#include "Host/StringList.h"
#include "Orvane/Orvane.h"
#include "Orvane/PageEntries.h"

namespace {

// A file name proposed by an address is at most this long, like an entry's content.
constexpr size_t kMaxSegment = 1000;

}  // namespace

std::string LastUrlSegment(const std::string& Url) {
  const size_t slash = Url.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  return Url.substr(start, kMaxSegment);
}

std::string TOrvane::ExtractContent(const std::string& Line) const {
  return EntryContent(Line);
}

void TOrvane::ParseDocument(const TStrings& Lines) {
  const TOrvTags& tags = *FInfoTags;
  const struct {
    const std::string& Tag;
    std::string& Field;
  } targets[] = {
      {tags.ProductNameTag(), FProductName},
      {tags.ReadMeTag(), FProductReadMe},
      {tags.ReadMeExtTag(), FProductReadMeExt},
      {tags.VersionTag(), FProductVersion},
      {tags.DateTag(), FProductDateStr},
      {tags.AuthorTag(), FProductAuthor},
      {tags.DownloadTag(), FDownloadURL},
      {tags.RedirectTag(), FRedirectURL},
      {tags.RunParamsTag(), FRunParams},
      {tags.SizeTag(), FDownloadSize},
      {tags.SHA256Tag(), FDownloadSHA256},
      {tags.ExpiresTag(), FPageExpires},
      {tags.SignatureTag(), FPageSignature},
      {tags.ReadMeSizeTag(), FReadMeSize},
      {tags.ReadMeSHA256Tag(), FReadMeSHA256},
      {tags.ReadMeExtSizeTag(), FReadMeExtSize},
      {tags.ReadMeExtSHA256Tag(), FReadMeExtSHA256},
  };
  for (int i = 0; i < Lines.Count(); ++i) {
    const std::string& line = Lines.Strings(i);
    std::string name;
    if (!ReadEntryName(line, name)) continue;
    for (const auto& t : targets)
      if (t.Tag == name) t.Field = ExtractContent(line);
  }
  if (!FProductDateStr.empty()) FProductDate = ConvertProductDate(FProductDateStr);
}
