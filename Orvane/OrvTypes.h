// The small published types of the update checker.
#pragma once

#include <cstdint>
#include <functional>

#include "Host/Component.h"
#include "Host/EnumSet.h"

enum TOrvOption : std::uint8_t {
  orvoAlwaysOverwrite,   // an existing local file is overwritten without a question
  orvoDisplayUI,         // the please-wait and progress forms are shown
  orvoDisplayReadMe,     // the read-me is offered before the download question
  orvoRunUpdate,         // after a download the user is asked to start it
  orvoExitDuringUpdate,  // the application closes once the update has been started
};
// One byte, bit n for ordinal n.
using TOrvOptions = TEnumSet<TOrvOption, std::uint8_t>;
static_assert(sizeof(TOrvOptions) == 1);

enum TOrvDateFormat : std::uint8_t { orvdZelDate, orvdNone };
enum TOrvVersionFormat : std::uint8_t { orvvBuildNumber, orvvSimpleString };

using TDownloadProgressEvent =
    std::function<void(TObject* Sender, std::int32_t BytesReceived, std::int32_t FileSize)>;
