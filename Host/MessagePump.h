// The one message pump behind every loop that waits: the application's own loop, modal
// waits, and the blocking calls of the socket and HTTP components.
//
//   TMessagePump Pump;                        // the calling thread's queue, straight to
//                                             // the windows (a worker thread's socket)
//   TMessagePump Pump(*Application);          // through a filter (the application):
//                                             // OnMessage sees every message first; a
//                                             // quit marks the application Terminated
//   Pump.PumpOne(Wait);                       // one message, waiting for it or not
//   Pump.PumpPending();                       // what is queued now, then return
//   Pump.PumpUntil(Done, Deadline, Recheck);  // one message at a time until Done() holds
//                                             // or Deadline passes, sleeping in between
//
// A nested pump that takes the quit message re-posts it, so the loops outside end too, and
// then pumps no more (QuitSeen()); only an Outermost pump (the application's Run, a
// worker's MessageLoop) consumes it. A pump through a filter also stops when a handler
// destroys the filter's component (AppGone()).
#pragma once

#include <cstdint>
#include <optional>

#include "Host/Events.h"
#include "Host/MessageFilter.h"
#include "Platform/Messages.h"

// A point on the tick counter (milliseconds), or never. Compared through the signed
// difference, so the counter's wrap every 49.7 days does not matter; hence no deadline
// lies further than 2^31 - 1 ms ahead.
class ORV_API TDeadline {
 public:
  static TDeadline Never() noexcept { return TDeadline(); }
  // Clamped to 0 .. 2^31 - 1 ms from now.
  static TDeadline InMs(std::int64_t Ms) noexcept;
  static TDeadline InSeconds(std::int32_t Seconds) noexcept {
    return InMs(std::int64_t{Seconds} * 1000);
  }

  bool IsNever() const noexcept { return FNever; }
  // Milliseconds left: 0 once passed, INT32_MAX for never.
  std::int32_t LeftMs() const noexcept;
  bool Passed() const noexcept { return LeftMs() == 0; }

 private:
  TDeadline() = default;
  plat::DWORD FEnd = 0;
  bool FNever = true;
};

// What one step of a pump did.
enum class TPumped : std::uint8_t {
  Nothing,     // no message was waiting (or none came)
  Dispatched,  // one message was taken and handled (dispatched, or kept by OnMessage)
  Ended,       // a quit was taken, the thread has no queue, or the application is gone:
               // this pump takes no more messages
};

struct ORV_API TPumpOptions {
  // The loop that ends the thread's work: a quit ends it and is consumed, not re-posted.
  bool Outermost = false;
  // Through a filter only: an error that escapes OnMessage goes to the filter's
  // FilterFailed (the application's HandleException) and pumping goes on; otherwise it
  // passes to the caller.
  bool HandleErrors = false;
};

class ORV_API TMessagePump {
 public:
  // The calling thread's queue, dispatched straight to its windows.
  explicit TMessagePump(TPumpOptions Options = {}) noexcept : FOptions(Options) {}
  // Through Filter (the application): its OnMessage sees every message first and may keep
  // it from dispatch; it hears of a quit (the application sets Terminated and ExitCode).
  explicit TMessagePump(TMessageFilter& Filter, TPumpOptions Options = {}) noexcept;
  // Through Filter, or the thread's own queue when Filter is null: what a component that
  // may live in a worker thread (MultiThreaded) waits with.
  explicit TMessagePump(TMessageFilter* Filter, TPumpOptions Options = {}) noexcept;
  TMessagePump(const TMessagePump&) = delete;
  TMessagePump& operator=(const TMessagePump&) = delete;

  // Takes one message and handles it; with Wait, sleeps until one comes.
  TPumped PumpOne(bool Wait);
  // Handles every message that is waiting, then returns: Dispatched when there was any.
  TPumped PumpPending();
  // Checks Done() before every message and handles one message at a time until it holds
  // (true), or Deadline passes or the pump ends (false). Between messages it sleeps until
  // the next one, at most until the deadline and, with RecheckMs, at most that long, for a
  // Done() that changes without a message. Done() may do work (retry a send), and must
  // itself check, first, that what it reads is still alive.
  template <class TDone>
  bool PumpUntil(TDone&& Done, TDeadline Deadline = TDeadline::Never(),
                 std::uint32_t RecheckMs = 0);

  // A quit message was taken (and, unless Outermost, posted again).
  bool QuitSeen() const noexcept { return FQuitSeen; }
  // Its exit code.
  int QuitCode() const noexcept { return FQuitCode; }
  // The filter this pump went through (the application) was destroyed by a handler.
  bool AppGone() const noexcept { return FAppGuard && FAppGuard->Gone(); }
  bool Ended() const noexcept { return FEnded; }

  // Sleeps until the calling thread's queue holds something, or at most Ms milliseconds.
  static void SleepForMessage(std::uint32_t Ms);

 private:
  void Idle(const TDeadline& Deadline, std::uint32_t RecheckMs);
  void Handle(plat::MSG& Msg);
  void TakeQuit(const plat::MSG& Msg);
  // Once the filter's component has been freed, the pump ends; answers whether it has.
  bool NoteAppGone() noexcept {
    if (!FAppGuard || !FAppGuard->Gone()) return false;
    FFilter = nullptr;
    FEnded = true;
    return true;
  }

  TPumpOptions FOptions;
  TMessageFilter* FFilter = nullptr;
  std::optional<TAliveGuard> FAppGuard;
  bool FQuitSeen = false;
  bool FEnded = false;
  int FQuitCode = 0;
};

template <class TDone>
bool TMessagePump::PumpUntil(TDone&& Done, TDeadline Deadline, std::uint32_t RecheckMs) {
  // Without a bound, one blocking take both waits and takes.
  const bool unbounded = Deadline.IsNever() && RecheckMs == 0;
  for (;;) {
    if (Done()) return true;
    if (FEnded || Deadline.Passed()) return false;
    const TPumped step = PumpOne(unbounded);
    if (step == TPumped::Ended) return false;
    if (step == TPumped::Nothing) Idle(Deadline, RecheckMs);
  }
}
