// The names of the information page's entries that fill the fields of TOrvane.
#pragma once

#include <string>

#include "Host/Component.h"
#include "Platform/Export.h"

class ORV_API TOrvTags : public TPersistent {
 public:
  std::string ClassName() const override { return "TOrvTags"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();

  // Copies all the names of another TOrvTags.
  void Assign(const TPersistent* Source) override;

  const std::string& AuthorTag() const { return FAuthorTag; }
  void SetAuthorTag(const std::string& Value) { FAuthorTag = Value; }
  const std::string& DateTag() const { return FDateTag; }
  void SetDateTag(const std::string& Value) { FDateTag = Value; }
  const std::string& DownloadTag() const { return FDownloadTag; }
  void SetDownloadTag(const std::string& Value) { FDownloadTag = Value; }
  const std::string& ProductNameTag() const { return FProductNameTag; }
  void SetProductNameTag(const std::string& Value) { FProductNameTag = Value; }
  const std::string& ReadMeTag() const { return FReadMeTag; }
  void SetReadMeTag(const std::string& Value) { FReadMeTag = Value; }
  const std::string& ReadMeExtTag() const { return FReadMeExtTag; }
  void SetReadMeExtTag(const std::string& Value) { FReadMeExtTag = Value; }
  // Not published: kept by the application in code, not in the form file.
  const std::string& RedirectTag() const { return FRedirectTag; }
  void SetRedirectTag(const std::string& Value) { FRedirectTag = Value; }
  const std::string& RunParamsTag() const { return FRunParamsTag; }
  void SetRunParamsTag(const std::string& Value) { FRunParamsTag = Value; }
  const std::string& VersionTag() const { return FVersionTag; }
  void SetVersionTag(const std::string& Value) { FVersionTag = Value; }

  // The entries of a signed page (or of one that gives its file's size and hash): named
  // like the others, but with names of their own from the start, so that a component
  // finds them without being told. They alone never make a page worth reading.
  const std::string& ExpiresTag() const { return FExpiresTag; }
  void SetExpiresTag(const std::string& Value) { FExpiresTag = Value; }
  const std::string& SHA256Tag() const { return FSHA256Tag; }
  void SetSHA256Tag(const std::string& Value) { FSHA256Tag = Value; }
  const std::string& SignatureTag() const { return FSignatureTag; }
  void SetSignatureTag(const std::string& Value) { FSignatureTag = Value; }
  const std::string& SizeTag() const { return FSizeTag; }
  void SetSizeTag(const std::string& Value) { FSizeTag = Value; }
  // The size and SHA-256 of each read-me, which a signed page holds it to.
  const std::string& ReadMeSizeTag() const { return FReadMeSizeTag; }
  void SetReadMeSizeTag(const std::string& Value) { FReadMeSizeTag = Value; }
  const std::string& ReadMeSHA256Tag() const { return FReadMeSHA256Tag; }
  void SetReadMeSHA256Tag(const std::string& Value) { FReadMeSHA256Tag = Value; }
  const std::string& ReadMeExtSizeTag() const { return FReadMeExtSizeTag; }
  void SetReadMeExtSizeTag(const std::string& Value) { FReadMeExtSizeTag = Value; }
  const std::string& ReadMeExtSHA256Tag() const { return FReadMeExtSHA256Tag; }
  void SetReadMeExtSHA256Tag(const std::string& Value) { FReadMeExtSHA256Tag = Value; }

 private:
  std::string FAuthorTag;
  std::string FDateTag;
  std::string FDownloadTag;
  std::string FProductNameTag;
  std::string FReadMeTag;
  std::string FReadMeExtTag;
  std::string FRedirectTag;
  std::string FRunParamsTag;
  std::string FVersionTag;
  std::string FExpiresTag = "Expires";
  std::string FSHA256Tag = "SHA256";
  std::string FSignatureTag = "Signature";
  std::string FSizeTag = "Size";
  std::string FReadMeSizeTag = "ReadMeSize";
  std::string FReadMeSHA256Tag = "ReadMeSHA256";
  std::string FReadMeExtSizeTag = "ReadMeExtSize";
  std::string FReadMeExtSHA256Tag = "ReadMeExtSHA256";
};
