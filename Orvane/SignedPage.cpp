// Checking the page a check has read against the publisher's keys, and what its download
// and read-mes are then held to. Whoever controls the server, the network or a proxy on
// the way writes the page: with a key, nothing of it counts unless the publisher signed
// it. The rules themselves are VerifySignedFacts', which the signing tool shares.
#include "Orvane/Orvane.h"

bool TOrvane::VerifyPage() {
  FSignatureVerified = false;
  FExpectations = {};
  if (FRequireSignature && FPublicKey.find_first_not_of(" \t\r\n") == std::string::npos) {
    FLastError =
        "Only signed updates are accepted (RequireSignature), but no PublicKey is set to check "
        "a signature with";
    return false;
  }
  const TOrvTags& tags = *FInfoTags;
  TTrustRules rules;
  if (!FPublicKey.empty() && !ParsePublicKeys(FPublicKey, rules.Keys, FLastError)) {
    FLastError = "The PublicKey's " + FLastError;
    return false;
  }
  rules.ExpectedProduct = FExpectedProduct;
  rules.AllowUnexpiring = FAllowUnexpiringPages;
  const auto name = [](const std::string& Tag, const char* Field) {
    return Tag.empty() ? std::string(Field) : Tag;
  };
  rules.Names.Size = name(tags.SizeTag(), "DownloadSize");
  rules.Names.SHA256 = name(tags.SHA256Tag(), "DownloadSHA256");
  rules.Names.Signature = name(tags.SignatureTag(), "PageSignature");
  rules.Names.Expires = name(tags.ExpiresTag(), "PageExpires");
  rules.Names.ReadMeSize = name(tags.ReadMeSizeTag(), "ReadMeSize");
  rules.Names.ReadMeSHA256 = name(tags.ReadMeSHA256Tag(), "ReadMeSHA256");
  rules.Names.ReadMeExtSize = name(tags.ReadMeExtSizeTag(), "ReadMeExtSize");
  rules.Names.ReadMeExtSHA256 = name(tags.ReadMeExtSHA256Tag(), "ReadMeExtSHA256");
  TTrustVerdict verdict = VerifySignedFacts(FPage, rules);
  FSignatureVerified = verdict.Verified;
  if (!verdict.Refusal.empty()) {
    FLastError = verdict.Refusal;
    return false;
  }
  FExpectations = std::move(verdict);
  return true;
}

const TDownloadExpectation* TOrvane::ChecksDownload(const std::string& URL) const {
  for (const TDownloadExpectation* e :
       {&FExpectations.Update, &FExpectations.ReadMe, &FExpectations.ReadMeExt})
    if (!e->URL.empty() && e->URL == URL) return e;
  return nullptr;
}
