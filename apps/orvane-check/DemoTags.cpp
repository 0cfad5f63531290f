#include "DemoTags.h"

#include <map>

const std::vector<std::pair<std::string, std::string>>& DefaultTags() {
  static const std::vector<std::pair<std::string, std::string>> tags = {
      {"ProductNameTag", "Product"},
      {"VersionTag", "Version"},
      {"DateTag", "Date"},
      {"AuthorTag", "Author"},
      {"DownloadTag", "Download"},
      {"ReadMeTag", "ReadMe"},
      {"ReadMeExtTag", "ReadMeExt"},
      {"RedirectTag", "Redirect"},
      {"RunParamsTag", "Params"},
      {"SizeTag", "Size"},
      {"SHA256Tag", "SHA256"},
      {"ExpiresTag", "Expires"},
      {"SignatureTag", "Signature"},
      {"ReadMeSizeTag", "ReadMeSize"},
      {"ReadMeSHA256Tag", "ReadMeSHA256"},
      {"ReadMeExtSizeTag", "ReadMeExtSize"},
      {"ReadMeExtSHA256Tag", "ReadMeExtSHA256"}};
  return tags;
}

bool SetInfoTag(TOrvTags& Tags, const std::string& Property, const std::string& Entry) {
  static const std::map<std::string, void (TOrvTags::*)(const std::string&)> setters = {
      {"ProductNameTag", &TOrvTags::SetProductNameTag},
      {"VersionTag", &TOrvTags::SetVersionTag},
      {"DateTag", &TOrvTags::SetDateTag},
      {"AuthorTag", &TOrvTags::SetAuthorTag},
      {"DownloadTag", &TOrvTags::SetDownloadTag},
      {"ReadMeTag", &TOrvTags::SetReadMeTag},
      {"ReadMeExtTag", &TOrvTags::SetReadMeExtTag},
      {"RedirectTag", &TOrvTags::SetRedirectTag},
      {"RunParamsTag", &TOrvTags::SetRunParamsTag},
      {"SizeTag", &TOrvTags::SetSizeTag},
      {"SHA256Tag", &TOrvTags::SetSHA256Tag},
      {"ExpiresTag", &TOrvTags::SetExpiresTag},
      {"SignatureTag", &TOrvTags::SetSignatureTag},
      {"ReadMeSizeTag", &TOrvTags::SetReadMeSizeTag},
      {"ReadMeSHA256Tag", &TOrvTags::SetReadMeSHA256Tag},
      {"ReadMeExtSizeTag", &TOrvTags::SetReadMeExtSizeTag},
      {"ReadMeExtSHA256Tag", &TOrvTags::SetReadMeExtSHA256Tag}};
  const auto it = setters.find(Property);
  if (it == setters.end()) return false;
  (Tags.*it->second)(Entry);
  return true;
}

void UseDefaultTags(TOrvTags& Tags) {
  for (const auto& [property, entry] : DefaultTags()) SetInfoTag(Tags, property, entry);
}
