#include "Host/TerminalProgress.h"

#include <cctype>
#include <cmath>
#include <cstdio>

std::string FormatRate(double BytesPerSecond) {
  char Buffer[32];
  if (BytesPerSecond < 1024)
    std::snprintf(Buffer, sizeof Buffer, "%.0f B/s", BytesPerSecond);
  else if (BytesPerSecond < 1024.0 * 1024)
    std::snprintf(Buffer, sizeof Buffer, "%.1f KiB/s", BytesPerSecond / 1024);
  else
    std::snprintf(Buffer, sizeof Buffer, "%.1f MiB/s", BytesPerSecond / (1024.0 * 1024));
  return Buffer;
}

std::string FormatDuration(double Seconds) {
  const long long S = Seconds < 0 ? 0 : std::llround(Seconds);
  char Buffer[32];
  if (S >= 3600)
    std::snprintf(Buffer, sizeof Buffer, "%lld:%02lld:%02lld", S / 3600, S / 60 % 60, S % 60);
  else
    std::snprintf(Buffer, sizeof Buffer, "%lld:%02lld", S / 60, S % 60);
  return Buffer;
}

bool ReadByteCounts(const std::string& Text, std::int64_t& Received, std::int64_t& Total) {
  Received = Total = -1;
  std::int64_t* Targets[] = {&Received, &Total};
  int Found = 0;
  std::size_t i = 0;
  while (i < Text.size() && Found < 2) {
    if (!std::isdigit(static_cast<unsigned char>(Text[i]))) {
      ++i;
      continue;
    }
    std::int64_t Value = 0;
    bool Negative = i > 0 && Text[i - 1] == '-';
    while (i < Text.size() && (std::isdigit(static_cast<unsigned char>(Text[i])) ||
                               (Text[i] == ',' && i + 1 < Text.size() &&
                                std::isdigit(static_cast<unsigned char>(Text[i + 1]))))) {
      if (Text[i] != ',' && Value < (INT64_MAX - 9) / 10) Value = Value * 10 + (Text[i] - '0');
      ++i;
    }
    *Targets[Found++] = Negative ? -Value : Value;
  }
  if (Total < 0) Total = -1;
  return Found > 0;
}

std::string FormatProgressLine(const TProgressView& View, int Width) {
  constexpr int BarWidth = 20;
  std::string Line = View.Title.empty() ? std::string("Downloading") : View.Title;
  const int Percent = View.Percent < 0 ? -1 : (View.Percent > 100 ? 100 : View.Percent);
  Line += " [";
  const int Filled = Percent < 0 ? 0 : Percent * BarWidth / 100;
  Line += std::string(static_cast<std::size_t>(Filled), '#');
  Line += std::string(static_cast<std::size_t>(BarWidth - Filled), '.');
  Line += "] ";
  if (Percent >= 0) {
    char P[8];
    std::snprintf(P, sizeof P, "%3d%%", Percent);
    Line += P;
  } else {
    Line += "  ?%";
  }
  std::string Counts = View.Counts;
  while (!Counts.empty() && (Counts.back() == '.' || Counts.back() == ' ')) Counts.pop_back();
  if (!Counts.empty()) Line += "  " + Counts;
  if (View.Received > 0 && View.Seconds > 0.2) {
    const double Rate = static_cast<double>(View.Received) / View.Seconds;
    Line += "  " + FormatRate(Rate);
    if (View.Total > View.Received && Rate > 0)
      Line +=
          "  " + FormatDuration(static_cast<double>(View.Total - View.Received) / Rate) + " left";
  }
  if (Width > 1 && static_cast<int>(Line.size()) >= Width)
    Line.resize(static_cast<std::size_t>(Width - 1));
  return Line;
}
