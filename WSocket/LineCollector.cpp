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
  TSpan Span;
  std::size_t Stored = FLine.size();
  for (std::size_t I = 0; I < Len; ++I) {
    const char Ch = Data[I];
    if (Ch == '\n') {
      Span.Take = I + 1;
      Span.Ends = true;
      return Span;
    }
    if (Ch != '\r' && ++Stored >= static_cast<std::size_t>(MaxLength)) {
      Span.Take = I + 1;
      Span.Ends = true;
      Span.TooLong = true;
      return Span;
    }
  }
  Span.Take = Len;
  return Span;
}

void TLineCollector::Append(const char* Data, std::size_t Len) {
  for (std::size_t I = 0; I < Len; ++I)
    if (Data[I] != '\r' && Data[I] != '\n') FLine.push_back(Data[I]);
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
