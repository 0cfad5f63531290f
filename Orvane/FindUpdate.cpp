// The check without windows: the page read as CheckForUpdate reads it, nothing shown.
#include "Host/Events.h"
#include "Orvane/FlagScope.h"
#include "Orvane/Orvane.h"

TOrvCheckResult TOrvane::FindUpdate() {
  TAliveGuard guard(*this);
  TFlagScope quiet(guard, FSilent, true);
  // What was read before may be old news by the time a schedule asks again.
  FActive = false;
  auto failed = [&](const std::string& Why) {
    if (!guard.Gone() && FLastError.empty()) FLastError = Why;
    return ocrFailed;
  };
  try {
    if (!GetFileInfo() || guard.Gone() || !FActive) return failed("The page could not be read");
    if (FPage.Version.empty())
      return failed("The page at " + FLastPageURL + " gives no version (" +
                    EntryName(FInfoTags->VersionTag(), "ProductVersion") + " is missing)");
    if (!IsUpdateAvailable()) return ocrNoUpdate;
    // What the full check would refuse before its first question is no update to offer.
    if (const std::string refused = RefusedPageEntry(); !refused.empty()) {
      FLastError = refused;
      return ocrFailed;
    }
    return ocrUpdateAvailable;
  } catch (const std::exception& e) {
    if (guard.Gone()) return ocrFailed;
    FLastError = e.what();
    return ocrFailed;
  } catch (...) {
    return failed("The check failed");
  }
}
