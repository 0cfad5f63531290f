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
      {tags.ProductNameTag(), FPage.Product},
      {tags.ReadMeTag(), FPage.ReadMe},
      {tags.ReadMeExtTag(), FPage.ReadMeExt},
      {tags.VersionTag(), FPage.Version},
      {tags.DateTag(), FPage.Date},
      {tags.AuthorTag(), FPage.Author},
      {tags.DownloadTag(), FPage.Download},
      {tags.RedirectTag(), FPage.Redirect},
      {tags.RunParamsTag(), FPage.RunParams},
      {tags.SizeTag(), FPage.Size},
      {tags.SHA256Tag(), FPage.SHA256},
      {tags.ExpiresTag(), FPage.Expires},
      {tags.SignatureTag(), FPage.Signature},
      {tags.ReadMeSizeTag(), FPage.ReadMeSize},
      {tags.ReadMeSHA256Tag(), FPage.ReadMeSHA256},
      {tags.ReadMeExtSizeTag(), FPage.ReadMeExtSize},
      {tags.ReadMeExtSHA256Tag(), FPage.ReadMeExtSHA256},
  };
  for (int i = 0; i < Lines.Count(); ++i) {
    const std::string& line = Lines.Strings(i);
    std::string name;
    if (!ReadEntryName(line, name)) continue;
    for (const auto& t : targets)
      if (t.Tag == name) t.Field = ExtractContent(line);
  }
  if (!FPage.Date.empty()) FPage.DateValue = ConvertProductDate(FPage.Date);
}
