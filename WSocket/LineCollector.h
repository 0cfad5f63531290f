// The line that ReadLine assembles: ends at a line feed, drops carriage returns, and holds
// at most MaxLength characters (the last one ends the line as a line feed would). The
// collector only keeps the line; the socket decides how many bytes to take for it, with
// Measure, so that nothing after the line leaves the socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Platform/Export.h"

class ORV_API TLineCollector {
 public:
  static constexpr std::int32_t MaxLength = 254;

  // How a run of bytes continues the line.
  struct TSpan {
    std::size_t Take = 0;  // bytes that belong to the line (its line feed included)
    bool Ends = false;     // they complete it
    bool TooLong = false;  // it was completed by reaching MaxLength
  };

  // Collecting: a ReadLine waits for (or left behind) an unfinished line.
  bool Active() const { return FState && FState->Active; }
  // A line was completed after the ReadLine that collected it had returned.
  bool Unread() const { return FState && FState->Unread; }
  const std::string& Line() const;
  std::int32_t Length() const {
    return FState ? static_cast<std::int32_t>(FState->Line.size()) : 0;
  }

  // Starts a line unless one is being collected or waits to be returned; answers whether
  // there is anything to collect.
  bool Start();
  // Of the bytes Data[0..Len), those that belong to the line.
  TSpan Measure(const char* Data, std::size_t Len) const;
  // Appends the bytes Measure allotted (carriage returns and the line feed are dropped).
  void Append(const char* Data, std::size_t Len);
  // Collecting stops (the line is complete, or no more bytes will come): the line waits
  // for the ReadLine that returns it.
  void End();
  // The line has been handed to the caller.
  void Delivered() {
    if (FState) FState->Unread = false;
  }
  // A new session: nothing collected, nothing waiting.
  void Reset();

 private:
  struct TState {
    std::string Line;
    bool Active = false;
    bool Unread = false;
  };
  // Made by the first ReadLine, dropped by Reset: most sessions never read lines, and a
  // server keeps a socket per connection.
  std::unique_ptr<TState> FState;
};
