// The result of a check as one JSON object, for scripts (--json).
#pragma once

#include <string>

struct TJsonResult {
  std::string Result;  // downloaded, no-update, declined, skipped, not-due, cancelled, failed
  std::string Product;
  std::string VersionOffered;
  std::string CurrentVersion;
  std::string SavedFile;
  bool SignatureVerified = false;
  std::string FailureKind;  // empty unless failed: page, no-version, download, state, roll-back
  std::string FailureText;
};

// One line: the object, its texts as valid JSON strings whatever bytes they hold (a byte
// that is no UTF-8 becomes U+FFFD), empty texts as null.
std::string JsonText(const TJsonResult& Result);
