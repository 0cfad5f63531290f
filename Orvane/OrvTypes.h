// The small published types of the update checker.
#pragma once

#include <cstdint>
#include <functional>

#include "Host/Component.h"
#include "Host/EnumSet.h"

enum TOrvOption : std::uint8_t {
  orvoAlwaysOverwrite,     // an existing local file is overwritten without a question
  orvoDisplayUI,           // the please-wait and progress forms are shown
  orvoDisplayReadMe,       // the read-me is offered before the download question
  orvoRunUpdate,           // after a download the user is asked to start it
  orvoExitDuringUpdate,    // the application closes once the update has been started
  orvoOfferSkip,           // the download question also offers "skip this version" and
                           // "remind me later"
  orvoReplaceAndRelaunch,  // a verified update replaces the running program's own file,
                           // which is then started again with the same arguments
};
// One byte, bit n for ordinal n.
using TOrvOptions = TEnumSet<TOrvOption, std::uint8_t>;
static_assert(sizeof(TOrvOptions) == 1);

// What FindUpdate found.
enum TOrvCheckResult : std::uint8_t { ocrUpdateAvailable, ocrNoUpdate, ocrFailed };

// How the last CheckForUpdate (or CheckIfDue) ended.
enum TOrvCheckOutcome : std::uint8_t {
  ocoNone,        // no check has ended yet
  ocoDownloaded,  // an update file was downloaded
  ocoNoUpdate,    // the page offers nothing newer
  ocoDeclined,    // the user said no (to the read-me's question, the download or the name)
  ocoSkipped,     // the version offered is one the user chose to skip: nothing was asked
  ocoCancelled,   // the user stopped the download
  ocoFailed,      // the page or the download failed; LastError says why
};

// The answers to the download question.
enum TDownloadAnswer : std::uint8_t { daInstall, daSkip, daLater, daNo };

enum TOrvDateFormat : std::uint8_t { orvdZelDate, orvdNone };
enum TOrvVersionFormat : std::uint8_t { orvvBuildNumber, orvvSimpleString };

using TDownloadProgressEvent =
    std::function<void(TObject* Sender, std::int32_t BytesReceived, std::int32_t FileSize)>;
