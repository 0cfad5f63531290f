#include "Orvane/DownloadRun.h"

#include <algorithm>
#include <exception>

#include "Orvane/HttpEvents.h"
#include "Orvane/WebDlProgress.h"

TOrvane::TDownloadRun::TDownloadRun(TOrvane& Owner, TAliveGuard& OwnerGuard, THttpCli& Client,
                                    TReceiveLoan& Received, THashingStream* Hashed,
                                    const std::string& Url, bool Retry, std::int64_t Size)
    : Resume(Size, Hashed != nullptr),
      O(Owner),
      Guard(OwnerGuard),
      Cli(Client),
      Loan(Received),
      Saved(Hashed),
      URL(Url),
      MayRetry(Retry) {}

void TOrvane::TDownloadRun::Bind() {
  PassOn = Cli.OnRequestDone;
  Cli.SetExtraHeaders({});
  Cli.OnHeaderEnd = [this](TObject*) { HeaderEnd(); };
  Cli.OnRequestDone = [this](TObject* Sender, THttpRequest Rq, std::uint16_t Error) {
    if (Cli.State() == httpReady && RetryNow()) {
      WaitForRetry();
      return;
    }
    if (PassOn) PassOn(Sender, Rq, Error);
  };
}

void TOrvane::TDownloadRun::Unbind() {
  THttpCli* cli = SharedHttpCli();
  if (cli != &Cli) return;  // gone with its component
  cli->OnHeaderEnd = nullptr;
  cli->OnRequestDone = PassOn;
  cli->SetExtraHeaders({});
}

void TOrvane::TDownloadRun::HeaderEnd() {
  const std::int64_t have = Have();
  const TDownloadResume::TAnswer answer = Resume.Judge(Cli, have, Refusal);
  Answer = answer;
  if (answer == TDownloadResume::raRestart) {
    try {
      if (Saved) {
        Saved->Restart();
      } else {
        Loan.Stream().SetSize(0);
        Loan.Stream().Seek(0, soFromBeginning);
      }
    } catch (const std::exception& e) {
      Refusal = e.what();
      Answer = TDownloadResume::raRefused;
    }
  }
  if (Answer == TDownloadResume::raRefused) {
    Cli.Abort();
    return;
  }
  O.FResumedBytes = answer == TDownloadResume::raContinue ? have : 0;
  O.FResumedSize = Resume.Size();
}

namespace {

// What another request may not meet: a connection that broke or stalled, a server out of
// reach for a moment, an answer whose body simply stopped. Not the user's cancel, a disk
// that refused the bytes, nor a server that breaks HTTP or refuses.
bool MayPass(THttpFailure Kind) {
  switch (Kind) {
    case hfNone:
    case hfConnectionLost:
    case hfTimeout:
    case hfConnect:
    case hfResolve:
    case hfTls:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool TOrvane::TDownloadRun::RetryNow() {
  using namespace std::chrono;
  if (!MayRetry || Attempt >= O.FDownloadRetries || !Resume.Resumable()) return false;
  if (!MayPass(Cli.FailureKind()) || Answer == TDownloadResume::raOther ||
      Answer == TDownloadResume::raRefused)
    return false;
  if (O.FDownloadTooLong || !O.FProgressForm || O.FProgressForm->Cancelled || Loan.Taken())
    return false;
  if (O.FDownloadMaxTime > 0 && steady_clock::now() - Started >= seconds(O.FDownloadMaxTime))
    return false;
  return Have() < Resume.Size();
}

void TOrvane::TDownloadRun::WaitForRetry() {
  const std::int64_t wait = static_cast<std::int64_t>(O.FDownloadRetryWait)
                            << std::min(Attempt, MaxDoublings);
  ++Attempt;
  RetryDue = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait);
  Timer = std::make_unique<TTimer>(nullptr);
  Timer->SetInterval(TickMs);
  Timer->OnTimer = [this](TObject*) { Tick(); };
}

void TOrvane::TDownloadRun::Tick() {
  // The component went, or the exception hook took the form (its message stands).
  TWebDlProgress* form = Guard.Gone() ? nullptr : O.FProgressForm;
  if (form && !form->Cancelled && std::chrono::steady_clock::now() < RetryDue) return;
  Timer->SetEnabled(false);
  if (!form) return;
  if (form->Cancelled) {
    O.FLastError = "Connection aborted on request";
    form->SetModalResult(mrCancel);
    return;
  }
  Cli.SetExtraHeaders(Resume.RequestLines(Have()));
  if (O.FDownloadMaxTime > 0) {
    // The bound is the whole download's: what is left of it, a second at least.
    const auto spent = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - Started);
    Cli.SetMaxTime(
        std::max<std::int32_t>(1, O.FDownloadMaxTime - static_cast<std::int32_t>(spent.count())));
  }
  Answer = TDownloadResume::raNone;
  if (!O.StartRequest(Cli, URL) && O.FProgressForm) O.FProgressForm->SetModalResult(mrOk);
}
