#include "WSocket/LineCollector.h"

bool TLineCollector::Start() {
  // A line cut short by an earlier time-out is continued, or returned when it has been
  // completed since.
  if (FActive || FUnread) return FActive;
  FLine.clear();
  FActive = true;
  return true;
}

TLineCollector::TSpan TLineCollector::Measure(const char* Data, std::size_t Len) const {
  TSpan span;
  std::size_t stored = FLine.size();
  for (std::size_t i = 0; i < Len; ++i) {
    const char ch = Data[i];
    if (ch == '\n') {
      span.Take = i + 1;
      span.Ends = true;
      return span;
    }
    if (ch != '\r' && ++stored >= static_cast<std::size_t>(MaxLength)) {
      span.Take = i + 1;
      span.Ends = true;
      span.TooLong = true;
      return span;
    }
  }
  span.Take = Len;
  return span;
}

void TLineCollector::Append(const char* Data, std::size_t Len) {
  for (std::size_t i = 0; i < Len; ++i)
    if (Data[i] != '\r' && Data[i] != '\n') FLine.push_back(Data[i]);
}

void TLineCollector::End() {
  FActive = false;
  FUnread = true;
}

void TLineCollector::Reset() {
  FLine.clear();
  FActive = false;
  FUnread = false;
}
