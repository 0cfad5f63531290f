#include "Orvane/OrvTags.h"

#include "Host/Published.h"

const TPublishedClass& TOrvTags::PublishedClass() {
  // The nine tags have no defaults: every one is written, the empty ones too. The entries
  // of a signed page have their names from the start, and are written when changed.
  static const TPublishedClass* cls = [] {
    auto* c = new TPublishedClass("TOrvTags", nullptr);
    TPublish<TOrvTags>(*c)
        .String("AuthorTag", &TOrvTags::AuthorTag, &TOrvTags::SetAuthorTag)
        .String("DateTag", &TOrvTags::DateTag, &TOrvTags::SetDateTag)
        .String("DownloadTag", &TOrvTags::DownloadTag, &TOrvTags::SetDownloadTag)
        .String("ExpiresTag", &TOrvTags::ExpiresTag, &TOrvTags::SetExpiresTag)
        .Default(std::string("Expires"))
        .String("ProductNameTag", &TOrvTags::ProductNameTag, &TOrvTags::SetProductNameTag)
        .String("ReadMeTag", &TOrvTags::ReadMeTag, &TOrvTags::SetReadMeTag)
        .String("ReadMeExtTag", &TOrvTags::ReadMeExtTag, &TOrvTags::SetReadMeExtTag)
        .String("ReadMeExtSHA256Tag", &TOrvTags::ReadMeExtSHA256Tag,
                &TOrvTags::SetReadMeExtSHA256Tag)
        .Default(std::string("ReadMeExtSHA256"))
        .String("ReadMeExtSizeTag", &TOrvTags::ReadMeExtSizeTag, &TOrvTags::SetReadMeExtSizeTag)
        .Default(std::string("ReadMeExtSize"))
        .String("ReadMeSHA256Tag", &TOrvTags::ReadMeSHA256Tag, &TOrvTags::SetReadMeSHA256Tag)
        .Default(std::string("ReadMeSHA256"))
        .String("ReadMeSizeTag", &TOrvTags::ReadMeSizeTag, &TOrvTags::SetReadMeSizeTag)
        .Default(std::string("ReadMeSize"))
        .String("RunParamsTag", &TOrvTags::RunParamsTag, &TOrvTags::SetRunParamsTag)
        .String("SHA256Tag", &TOrvTags::SHA256Tag, &TOrvTags::SetSHA256Tag)
        .Default(std::string("SHA256"))
        .String("SignatureTag", &TOrvTags::SignatureTag, &TOrvTags::SetSignatureTag)
        .Default(std::string("Signature"))
        .String("SizeTag", &TOrvTags::SizeTag, &TOrvTags::SetSizeTag)
        .Default(std::string("Size"))
        .String("VersionTag", &TOrvTags::VersionTag, &TOrvTags::SetVersionTag);
    RegisterClass(c);
    return c;
  }();
  return *cls;
}

const TPublishedClass* TOrvTags::Published() const {
  return &PublishedClass();
}

void TOrvTags::Assign(const TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TOrvTags*>(Source)) {
    // The names are all the object holds.
    if (src != this) *this = *src;
    return;
  }
  TPersistent::Assign(Source);
}
