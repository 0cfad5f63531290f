#include "WSocket/LineCollector.h"

#include <algorithm>
#include <cstring>

const std::string& TLineCollector::Line() const {
  static const std::string none;
  return FState ? FState->Line : none;
}

bool TLineCollector::Start() {
  // A line cut short by an earlier time-out is continued, or returned when it has been
  // completed since.
  if (!FState) FState = std::make_unique<TState>();
  if (FState->Active || FState->Unread) return FState->Active;
  FState->Line.clear();
  FState->Active = true;
  return true;
}

TLineCollector::TSpan TLineCollector::Measure(const char* Data, std::size_t Len) const {
  TSpan span;
  // Up to the first line feed, the usual case found without a byte-wise walk: the line's
  // length only counts when it may reach MaxLength there.
  const auto* lf = static_cast<const char*>(std::memchr(Data, '\n', Len));
  const std::size_t before = lf != nullptr ? static_cast<std::size_t>(lf - Data) : Len;
  std::size_t kept = before;
  const char* const stopAt = Data + before;
  for (const char* p = Data; p < stopAt; ++p) {
    p = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(stopAt - p)));
    if (p == nullptr) break;
    --kept;
  }
  std::size_t stored = FState ? FState->Line.size() : 0;
  if (stored + kept < static_cast<std::size_t>(MaxLength)) {
    span.Take = lf != nullptr ? before + 1 : Len;
    span.Ends = lf != nullptr;
    return span;
  }
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
  if (!FState) FState = std::make_unique<TState>();
  std::string& line = FState->Line;
  // In runs between carriage returns and line feeds, which are dropped.
  const char* p = Data;
  const char* const end = Data + Len;
  while (p < end) {
    const std::size_t left = static_cast<std::size_t>(end - p);
    const auto* cr = static_cast<const char*>(std::memchr(p, '\r', left));
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', left));
    const char* stop = cr == nullptr ? lf : lf == nullptr ? cr : std::min(cr, lf);
    if (stop == nullptr) stop = end;
    line.append(p, static_cast<std::size_t>(stop - p));
    p = stop + 1;
  }
}

void TLineCollector::End() {
  if (!FState) FState = std::make_unique<TState>();
  FState->Active = false;
  FState->Unread = true;
}

void TLineCollector::Reset() {
  FState.reset();
}
