#include "Orvane/OrvStrings.h"

namespace {

TOrvStringTable& Current() {
  static TOrvStringTable Table = DefaultOrvStrings();
  return Table;
}

}  // namespace

const TOrvStringTable& DefaultOrvStrings() {
  static const TOrvStringTable Table = {
      {sOrvVersionsLine, "Current version is %s.\rVersion %s is available."},
      {sOrvViewReadMe, "Would you like to view the ReadMe file?"},
      {sOrvCancelButton, "&Cancel"},
      {sOrvOkButton, "&Ok"},
      {sOrvBytesReceivedOnly, "%s bytes received."},
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
  };
  return Table;
}

std::string LoadOrvStr(int Ident) {
  const auto& Table = Current();
  const auto It = Table.find(Ident);
  return It == Table.end() ? std::string() : It->second;
}

std::string FormatOrvStr(int Ident, std::initializer_list<std::string> Args) {
  const std::string Pattern = LoadOrvStr(Ident);
  std::string Result;
  auto Next = Args.begin();
  for (size_t I = 0; I < Pattern.size(); ++I) {
    if (Pattern[I] == '%' && I + 1 < Pattern.size()) {
      if (Pattern[I + 1] == 's') {
        if (Next != Args.end()) Result += *Next++;
        ++I;
        continue;
      }
      if (Pattern[I + 1] == '%') {
        Result += '%';
        ++I;
        continue;
      }
    }
    Result += Pattern[I];
  }
  return Result;
}

void SetOrvStrings(const TOrvStringTable& Table) {
  Current() = Table.empty() ? DefaultOrvStrings() : Table;
}
