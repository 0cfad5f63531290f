// The update checker's texts, looked up by identifier in the string resources (see
// Host/Resources.h), where the unit puts its English table at start-up. A translation
// replaces that one table and nothing else. A carriage return (byte 13) in a text is a
// line break.
#pragma once

#include <initializer_list>
#include <map>
#include <string>

#include "Platform/Export.h"

// The three answers of the download question with orvoOfferSkip, and a replace that
// could not be done.
inline constexpr int sOrvInstallButton = 65480;  // "&Install"
inline constexpr int sOrvSkipButton = 65481;     // "&Skip this version"
inline constexpr int sOrvLaterButton = 65482;    // "&Remind me later"
inline constexpr int sOrvCannotReplace = 65483;  // "The program cannot replace itself: %s..."
inline constexpr int sOrvVersionsLine = 65488;  // "Current version is %s.\r..."
inline constexpr int sOrvViewReadMe = 65489;
inline constexpr int sOrvCancelButton = 65490;       // "&Cancel"
inline constexpr int sOrvOkButton = 65491;           // "&Ok"
inline constexpr int sOrvBytesReceivedOnly = 65492;  // no size announced
// A page read but refused by the trust rules (signature, key, expiry, product): its own
// box, so that nobody is sent to check a network that worked.
inline constexpr int sOrvNotVerified = 65486;        // the box's title
inline constexpr int sOrvNotVerifiedReason = 65487;  // "%s\r\r..." the reason first
inline constexpr int sOrvFileExists = 65504;
inline constexpr int sOrvOverwrite = 65505;
inline constexpr int sOrvSaveFilter = 65506;
inline constexpr int sOrvInstallAndClose = 65507;
inline constexpr int sOrvInstallUpdate = 65508;
inline constexpr int sOrvInstallNow = 65509;
inline constexpr int sOrvMissingHomeUrl = 65510;
inline constexpr int sOrvNoHomeUrl = 65511;
inline constexpr int sOrvMissingTags = 65512;
inline constexpr int sOrvNoTags = 65513;
inline constexpr int sOrvNoUpdateFound = 65514;
inline constexpr int sOrvNoUpdate = 65515;
inline constexpr int sOrvPleaseWait = 65516;
inline constexpr int sOrvReadMe = 65517;
inline constexpr int sOrvRetrievingReadMe = 65518;
inline constexpr int sOrvUpdateAvailable = 65519;
inline constexpr int sOrvBytesReceived = 65520;
inline constexpr int sOrvCheckingForUpdate = 65521;
inline constexpr int sOrvConnectionError = 65522;
inline constexpr int sOrvInfoErrorUnknown = 65523;
inline constexpr int sOrvInfoError = 65524;
inline constexpr int sOrvDownloadError = 65525;
inline constexpr int sOrvDownloadErrorUnknown = 65526;
inline constexpr int sOrvDownloadErrorReason = 65527;
inline constexpr int sOrvDownloadProgress = 65528;
inline constexpr int sOrvDownloadingReadMe = 65529;
inline constexpr int sOrvDownloadingUpdate = 65530;
inline constexpr int sOrvDownloadQuestion = 65531;
inline constexpr int sOrvError = 65532;
inline constexpr int sOrvCannotStart = 65533;
inline constexpr int sOrvExceptionText = 65534;  // "Error retrieving update information..."
inline constexpr int sOrvException = 65535;

using TOrvStringTable = std::map<int, std::string>;

// The English table, the one the unit registers and the package carries.
ORV_API const TOrvStringTable& DefaultOrvStrings();
// The text of Ident in the string resources (LoadStr); empty for an identifier they do
// not hold.
ORV_API std::string LoadOrvStr(int Ident);
// The text of Ident with each "%s" replaced by the next of Args, in order ("%%" is "%";
// a "%s" beyond the arguments stays empty, any other "%" stays as it is), so that a
// translation with a wrong placeholder can at worst show a wrong text.
ORV_API std::string FormatOrvStr(int Ident, std::initializer_list<std::string> Args);
// Replaces the registered table as a whole (a translation): the identifiers of the table
// it replaces lose their texts, then Table's are added; an empty table restores the
// English one. User-interface thread only.
ORV_API void SetOrvStrings(const TOrvStringTable& Table);
