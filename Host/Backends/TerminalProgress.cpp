#include "Host/TerminalProgress.h"

#include <cctype>
#include <cmath>
#include <cstdio>

std::string FormatRate(double BytesPerSecond) {
  char buffer[32];
  if (BytesPerSecond < 1024)
    std::snprintf(buffer, sizeof buffer, "%.0f B/s", BytesPerSecond);
  else if (BytesPerSecond < 1024.0 * 1024)
    std::snprintf(buffer, sizeof buffer, "%.1f KiB/s", BytesPerSecond / 1024);
  else
    std::snprintf(buffer, sizeof buffer, "%.1f MiB/s", BytesPerSecond / (1024.0 * 1024));
  return buffer;
}

std::string FormatDuration(double Seconds) {
  const long long s = Seconds < 0 ? 0 : std::llround(Seconds);
  char buffer[32];
  if (s >= 3600)
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld", s / 60, s % 60);
  return buffer;
}

bool ReadByteCounts(const std::string& Text, std::int64_t& Received, std::int64_t& Total) {
  Received = Total = -1;
  std::int64_t* targets[] = {&Received, &Total};
  int found = 0;
  std::size_t i = 0;
  while (i < Text.size() && found < 2) {
    if (!std::isdigit(static_cast<unsigned char>(Text[i]))) {
      ++i;
      continue;
    }
    std::int64_t value = 0;
    bool negative = i > 0 && Text[i - 1] == '-';
    while (i < Text.size() && (std::isdigit(static_cast<unsigned char>(Text[i])) ||
                               (Text[i] == ',' && i + 1 < Text.size() &&
                                std::isdigit(static_cast<unsigned char>(Text[i + 1]))))) {
      if (Text[i] != ',' && value < (INT64_MAX - 9) / 10) value = value * 10 + (Text[i] - '0');
      ++i;
    }
    *targets[found++] = negative ? -value : value;
  }
  if (Total < 0) Total = -1;
  return found > 0;
}

std::string FormatProgressLine(const TProgressView& View, int Width) {
  constexpr int barWidth = 20;
  std::string line = View.Title.empty() ? std::string("Downloading") : View.Title;
  const int percent = View.Percent < 0 ? -1 : (View.Percent > 100 ? 100 : View.Percent);
  line += " [";
  const int filled = percent < 0 ? 0 : percent * barWidth / 100;
  line += std::string(static_cast<std::size_t>(filled), '#');
  line += std::string(static_cast<std::size_t>(barWidth - filled), '.');
  line += "] ";
  if (percent >= 0) {
    char p[8];
    std::snprintf(p, sizeof p, "%3d%%", percent);
    line += p;
  } else {
    line += "  ?%";
  }
  std::string counts = View.Counts;
  while (!counts.empty() && (counts.back() == '.' || counts.back() == ' ')) counts.pop_back();
  if (!counts.empty()) line += "  " + counts;
  if (View.Received > 0 && View.Seconds > 0.2) {
    const double rate = static_cast<double>(View.Received) / View.Seconds;
    line += "  " + FormatRate(rate);
    if (View.Total > View.Received && rate > 0)
      line +=
          "  " + FormatDuration(static_cast<double>(View.Total - View.Received) / rate) + " left";
  }
  if (Width > 1 && static_cast<int>(line.size()) >= Width)
    line.resize(static_cast<std::size_t>(Width - 1));
  return line;
}
