// Checks on a schedule: the state file, CheckIfDue, the timer of AutoCheck, and the three
// answers of the download question that the state file remembers.
#include <algorithm>

#include "Host/Application.h"
#include "Host/Dialogs.h"
#include "Host/Events.h"
#include "Host/Timer.h"
#include "Orvane/EntryChecks.h"
#include "Orvane/FlagScope.h"
#include "Orvane/OrvStrings.h"
#include "Orvane/Orvane.h"
#include "Orvane/UpdateState.h"

namespace {

// A "remind me later" without an interval waits a day.
constexpr std::int64_t DefaultRemindSeconds = 24 * 60 * 60;
// The first automatic check comes once the message loop has started.
constexpr std::uint32_t FirstAutoCheckMs = 500;
// A timer cannot wait longer than this; a later check is reached in steps.
constexpr std::int64_t LongestTimerSeconds = 24 * 60 * 60;

}  // namespace

void TOrvane::SetCheckInterval(std::int32_t Value) {
  FCheckInterval = std::max<std::int32_t>(Value, 0);
  if (FAutoTimer && !FChecking) {
    FAutoTimer->SetInterval(FirstAutoCheckMs);
    FAutoTimer->SetEnabled(true);
  }
}

std::string TOrvane::StateFilePath() const {
  if (!FStateFile.empty()) return FStateFile;
  // An id that is no file name (a "/", "..") is not put into a path.
  const bool usable = !FApplicationId.empty() && FileNameFault(FApplicationId).empty() &&
                      FApplicationId.find('/') == std::string::npos;
  return DefaultStateFile(usable ? FApplicationId : ExecutableName());
}

std::string TOrvane::SkippedVersion() const {
  std::string problem;
  return TUpdateState::Load(StateFilePath(), problem).SkippedVersion;
}

namespace {

// Changes the state file with Change; a damaged file is started anew. False with Problem
// when it cannot be written.
template <class TChange>
bool ChangeState(const std::string& Path, TChange&& Change, std::string& Problem) {
  TUpdateState state = TUpdateState::Load(Path, Problem);
  Change(state);
  return state.Save(Path, Problem);
}

}  // namespace

bool TOrvane::SkipVersion(const std::string& Version) {
  std::string problem;
  if (ChangeState(
          StateFilePath(), [&](TUpdateState& S) { S.SkippedVersion = Version; }, problem))
    return true;
  FLastError = problem;
  return false;
}

bool TOrvane::ForgetSkipped() {
  std::string problem;
  if (ChangeState(
          StateFilePath(),
          [](TUpdateState& S) {
            S.SkippedVersion.clear();
            S.RemindAfter = 0;
          },
          problem))
    return true;
  FLastError = problem;
  return false;
}

std::int64_t TOrvane::SecondsUntilDue() {
  std::string problem;
  const TUpdateState state = TUpdateState::Load(StateFilePath(), problem);
  const std::int64_t now = NowSeconds();
  // A last check in the future means the clock went back: it tells nothing.
  const std::int64_t last = state.LastCheck > now ? 0 : state.LastCheck;
  return std::max<std::int64_t>({last + FCheckInterval - now, state.RemindAfter - now, 0});
}

bool TOrvane::CheckIfDue() {
  if (FChecking || SecondsUntilDue() > 0) return false;
  TAliveGuard guard(*this);
  TFlagScope running(guard, FChecking, true);
  const std::string path = StateFilePath();
  std::string problem;
  TUpdateState state = TUpdateState::Load(path, problem);
  // A damaged state file costs the memory of earlier answers, never the check.
  auto noteProblem = [&] {
    if (problem.empty()) return;
    FLastError = FLastError.empty() ? problem : FLastError + "\n" + problem;
  };
  const TOrvCheckResult found = FindUpdate();
  if (guard.Gone()) return true;
  if (found == ocrFailed) {
    FLastResult = ocoFailed;
    noteProblem();
    return true;
  }
  state.LastCheck = NowSeconds();
  std::string saveProblem;
  const bool saved = state.Save(path, saveProblem);
  if (found == ocrNoUpdate || FPage.Version == state.SkippedVersion) {
    FLastError.clear();
    FLastResult = found == ocrNoUpdate ? ocoNoUpdate : ocoSkipped;
  } else {
    CheckForUpdate();
    if (guard.Gone()) return true;
  }
  if (!saved) problem += (problem.empty() ? "" : "\n") + saveProblem;
  noteProblem();
  return true;
}

void TOrvane::SetAutoCheck(bool Value) {
  FAutoCheck = Value;
  if (!Value || (ComponentState() & csDesigning)) {
    delete FAutoTimer;
    FAutoTimer = nullptr;
    return;
  }
  if (FAutoTimer) return;
  FAutoTimer = new TTimer(this);
  FAutoTimer->SetSubComponent(true);
  FAutoTimer->SetInterval(FirstAutoCheckMs);
  FAutoTimer->OnTimer = [this](TObject*) { AutoCheckTick(); };
}

void TOrvane::AutoCheckTick() {
  TAliveGuard guard(*this);
  // No tick while this one's questions are up.
  FAutoTimer->SetEnabled(false);
  CheckIfDue();
  if (guard.Gone() || !FAutoTimer) return;
  // Without an interval the application checks once, at its start.
  if (FCheckInterval == 0) return;
  const std::int64_t wait = std::clamp<std::int64_t>(SecondsUntilDue(), 1, LongestTimerSeconds);
  FAutoTimer->SetInterval(static_cast<std::uint32_t>(wait * 1000));
  FAutoTimer->SetEnabled(true);
}

TDownloadAnswer TOrvane::AskDownload() {
  const std::string text = FormatOrvStr(sOrvVersionsLine, {FCurrentVersion, FPage.Version}) +
                           "\r" + LoadOrvStr(sOrvDownloadQuestion);
  if (!FOptions.Contains(orvoOfferSkip))
    return Application->MessageBox(text, LoadOrvStr(sOrvUpdateAvailable),
                                   MB_ICONQUESTION | MB_YESNO) == IDYES
               ? daInstall
               : daNo;
  TMessageBoxRequest box;
  box.Caption = LoadOrvStr(sOrvUpdateAvailable);
  box.Text = text;
  box.Icon = miQuestion;
  box.Buttons = {mrYes, mrIgnore, mrNo};
  box.Captions = {LoadOrvStr(sOrvInstallButton), LoadOrvStr(sOrvSkipButton),
                  LoadOrvStr(sOrvLaterButton)};
  // Closing the box decides nothing for good: it is asked again later.
  box.EscapeResult = mrNo;
  const TModalResult answer = UIBackend().MessageBox(box);
  if (answer == mrYes) return daInstall;
  std::string problem;
  const std::string version = FPage.Version;
  const std::int64_t remindAfter =
      NowSeconds() + (FCheckInterval > 0 ? FCheckInterval : DefaultRemindSeconds);
  const bool saved = ChangeState(
      StateFilePath(),
      [&](TUpdateState& S) {
        if (answer == mrIgnore)
          S.SkippedVersion = version;
        else
          S.RemindAfter = remindAfter;
      },
      problem);
  if (!saved) FLastError = problem;
  return answer == mrIgnore ? daSkip : daLater;
}
