#include "Orvane/OrvStrings.h"

#include "Host/Resources.h"

namespace {

TStringTable ToResources(const TOrvStringTable& Table) {
  TStringTable result;
  for (const auto& [id, text] : Table)
    if (id >= 0 && id <= 0xFFFF) result.emplace_back(static_cast<std::uint16_t>(id), text);
  return result;
}

// The table this unit has in the resource registry: the English one from start-up, or the
// translation that replaced it.
TStringTable& Registered() {
  static TStringTable table;
  return table;
}

void Register(TStringTable Table) {
  RemoveStringResources(Registered());
  Registered() = std::move(Table);
  AddStringResources(Registered());
}

// The unit's start-up puts its texts in the registry, so that a program that links the
// unit without the package finds them; its clean-up takes back what it put there.
struct TOrvStringsUnit {
  TOrvStringsUnit() { Register(ToResources(DefaultOrvStrings())); }
  ~TOrvStringsUnit() { RemoveStringResources(Registered()); }
};
const TOrvStringsUnit OrvStringsUnit;

}  // namespace

const TOrvStringTable& DefaultOrvStrings() {
  static const TOrvStringTable table = {
      {sOrvVersionsLine, "Current version is %s.\rVersion %s is available."},
      {sOrvViewReadMe, "Would you like to view the ReadMe file?"},
      {sOrvCancelButton, "&Cancel"},
      {sOrvOkButton, "&Ok"},
      {sOrvBytesReceivedOnly, "%s bytes received."},
      {sOrvNotVerified, "Update Not Verified"},
      {sOrvNotVerifiedReason,
       "%s\r\rThe update information does not come from the publisher as its signature "
       "requires, so nothing was downloaded."},
      {sOrvFileExists, "File Exists"},
      {sOrvOverwrite, "The file %s already exists.\rDo you want to overwrite it?"},
      {sOrvSaveFilter, "Application (*.EXE)|*.EXE|Zipped File|*.ZIP|All Files (*.*)|*.*"},
      {sOrvInstallAndClose, "Do you want to install the update now?\rThis will close %s."},
      {sOrvInstallUpdate, "Install Update"},
      {sOrvInstallNow, "Do you want to install the update now?"},
      {sOrvMissingHomeUrl, "Missing Home URL"},
      {sOrvNoHomeUrl, "Can not retrieve version information\rbecause no home url was provided."},
      {sOrvMissingTags, "Missing Tag Information"},
      {sOrvNoTags,
       "Can not retrieve version information\rbecause no tag information was provided."},
      {sOrvNoUpdateFound, "No Update Found"},
      {sOrvNoUpdate, "There is no update available."},
      {sOrvPleaseWait, "Please Wait"},
      {sOrvReadMe, "Read Me"},
      {sOrvRetrievingReadMe, "Retrieving ReadMe..."},
      {sOrvUpdateAvailable, "Update Available"},
      {sOrvBytesReceived, "%s of %s bytes received."},
      {sOrvCheckingForUpdate, "Checking For Update..."},
      {sOrvConnectionError, "Connection Error"},
      {sOrvInfoErrorUnknown,
       "Could not retrieve version information from the Internet.\rError unknown."},
      {sOrvInfoError, "Could not retrieve version information from the Internet.\rError: \"%s.\""},
      {sOrvDownloadError, "Download Error"},
      {sOrvDownloadErrorUnknown, "Error occurred while downloading update.\rError unknown."},
      {sOrvDownloadErrorReason, "Error occurred while downloading update.\rError: \"%s.\""},
      {sOrvDownloadProgress, "Download Progress"},
      {sOrvDownloadingReadMe, "Downloading ReadMe"},
      {sOrvDownloadingUpdate, "Downloading Update"},
      {sOrvDownloadQuestion, "Download the update?"},
      {sOrvError, "Error"},
      {sOrvCannotStart, "Can not start program."},
      {sOrvExceptionText, "Error retrieving update information.\rException: %s."},
      {sOrvException, "Exception"},
      {sOrvInstallButton, "&Install"},
      {sOrvSkipButton, "&Skip this version"},
      {sOrvLaterButton, "&Remind me later"},
      {sOrvCannotReplace,
       "The program cannot replace itself: %s.\rThe update will be saved instead."},
  };
  return table;
}

std::string LoadOrvStr(int Ident) {
  if (Ident < 0 || Ident > 0xFFFF) return {};
  return LoadStr(static_cast<std::uint16_t>(Ident));
}

std::string FormatOrvStr(int Ident, std::initializer_list<std::string> Args) {
  const std::string pattern = LoadOrvStr(Ident);
  std::string result;
  auto next = Args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      if (pattern[i + 1] == 's') {
        if (next != Args.end()) result += *next++;
        ++i;
        continue;
      }
      if (pattern[i + 1] == '%') {
        result += '%';
        ++i;
        continue;
      }
    }
    result += pattern[i];
  }
  return result;
}

void SetOrvStrings(const TOrvStringTable& Table) {
  Register(ToResources(Table.empty() ? DefaultOrvStrings() : Table));
}
