// The one-line view of a download that the terminal back-end redraws in place.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Export.h"

struct ORV_API TProgressView {
  std::string Title;
  int Percent = -1;    // -1: unknown
  std::string Counts;  // as the form's label words it ("1,234 of 56,789 bytes received")
  std::int64_t Received = -1;
  std::int64_t Total = -1;  // -1: not announced
  double Seconds = 0;       // since the download started
};

// Title, bar, percentage, counts, rate and time left, cut to Width columns.
ORV_API std::string FormatProgressLine(const TProgressView& View, int Width);
// "512 B/s", "12.3 KiB/s", "4.5 MiB/s".
ORV_API std::string FormatRate(double BytesPerSecond);
// "0:07", "12:34", "1:02:03".
ORV_API std::string FormatDuration(double Seconds);
// The first two numbers of a text such as "1,234 of 56,789 bytes received." (thousands
// separated by commas); Total stays -1 when there is only one.
ORV_API bool ReadByteCounts(const std::string& Text, std::int64_t& Received, std::int64_t& Total);
