// The requests of one download. Each answer's header is judged before any of its bytes
// reach the file; a request that a broken connection ended is asked again after a wait on
// the progress form's own loop, through which Cancel still ends everything.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "Host/Timer.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/DownloadResume.h"
#include "Orvane/HashingStream.h"
#include "Orvane/Orvane.h"
#include "Orvane/ReceiveLoan.h"

struct TOrvane::TDownloadRun {
  // Size: the size the page gives (Hashed then holds the hash), or -1. Retry: a broken
  // request may be asked again (a read-me is fetched once, as a page is).
  TDownloadRun(TOrvane& Owner, TAliveGuard& OwnerGuard, THttpCli& Client, TReceiveLoan& Received,
               THashingStream* Hashed, const std::string& Url, bool Retry, std::int64_t Size);
  TDownloadRun(const TDownloadRun&) = delete;
  TDownloadRun& operator=(const TDownloadRun&) = delete;
  // Gives the client its own handlers back.
  ~TDownloadRun() { Unbind(); }

  // Takes over the client's header-end and request-done events for the download.
  void Bind();
  void Unbind();
  // Bytes of the file on the disk.
  std::int64_t Have() const { return Loan.Stream().Seek(0, soFromCurrent); }

  TDownloadResume Resume;
  // Why an answer was refused (another part or another file), or empty.
  std::string Refusal;

 private:
  void HeaderEnd();
  // The request ended before the file was whole, for a reason that another request may
  // not meet, after an answer that was this file (or none yet to this request).
  bool RetryNow();
  void WaitForRetry();
  void Tick();

  // The wait for a retry ticks this often, so that a Cancel is seen at once.
  static constexpr std::uint32_t TickMs = 50;
  // However many retries there are, none waits longer than 64 times the first.
  static constexpr std::int32_t MaxDoublings = 6;

  TOrvane& O;
  TAliveGuard& Guard;
  THttpCli& Cli;
  TReceiveLoan& Loan;
  THashingStream* Saved;
  const std::string& URL;
  const bool MayRetry;
  TDownloadResume::TAnswer Answer = TDownloadResume::raNone;
  std::int32_t Attempt = 0;
  std::chrono::steady_clock::time_point Started = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point RetryDue;
  std::unique_ptr<TTimer> Timer;
  THttpRequestDone PassOn;
};
