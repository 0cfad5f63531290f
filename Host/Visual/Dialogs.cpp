#include "Host/Dialogs.h"

#include "Host/Application.h"
#include "Host/FileUtils.h"
#include "Host/SysUtils.h"

namespace {

// A dialog whose back-end keeps offering refused names gets this many tries.
constexpr int MaxDialogRounds = 100;

std::vector<std::pair<std::string, std::string>> SplitFilter(const std::string& Filter) {
  std::vector<std::string> Parts;
  std::string::size_type Start = 0;
  while (Start <= Filter.size() && !Filter.empty()) {
    const auto Bar = Filter.find('|', Start);
    Parts.push_back(
        Filter.substr(Start, Bar == std::string::npos ? std::string::npos : Bar - Start));
    if (Bar == std::string::npos) break;
    Start = Bar + 1;
  }
  std::vector<std::pair<std::string, std::string>> Result;
  // A description without a mask is dropped, as the system dialog drops it.
  for (size_t I = 0; I + 1 < Parts.size(); I += 2) Result.emplace_back(Parts[I], Parts[I + 1]);
  return Result;
}

bool AskYesNo(const std::string& Text, const std::string& Caption, int DefaultButton) {
  TMessageBoxRequest Box;
  Box.Caption = Caption;
  Box.Text = Text;
  Box.Icon = miExclamation;
  Box.Buttons = {mrYes, mrNo};
  Box.DefaultButton = DefaultButton;
  Box.EscapeResult = mrNo;
  return UIBackend().MessageBox(Box) == mrYes;
}

}  // namespace

std::string MessageButtonCaption(TModalResult Button) {
  switch (Button) {
    case mrOk:
      return "OK";
    case mrCancel:
      return "Cancel";
    case mrAbort:
      return "&Abort";
    case mrRetry:
      return "&Retry";
    case mrIgnore:
      return "&Ignore";
    case mrYes:
      return "&Yes";
    case mrNo:
      return "&No";
    default:
      return IntToStr(Button);
  }
}

TMessageBoxRequest MessageBoxRequest(const std::string& Text, const std::string& Caption,
                                     std::uint32_t Flags) {
  TMessageBoxRequest Box;
  Box.Caption = Caption;
  Box.Text = Text;
  switch (Flags & 0x0F) {
    case MB_OKCANCEL:
      Box.Buttons = {mrOk, mrCancel};
      Box.EscapeResult = mrCancel;
      break;
    case MB_ABORTRETRYIGNORE:
      Box.Buttons = {mrAbort, mrRetry, mrIgnore};
      Box.EscapeResult = mrNone;
      break;
    case MB_YESNOCANCEL:
      Box.Buttons = {mrYes, mrNo, mrCancel};
      Box.EscapeResult = mrCancel;
      break;
    case MB_YESNO:
      Box.Buttons = {mrYes, mrNo};
      Box.EscapeResult = mrNone;
      break;
    case MB_RETRYCANCEL:
      Box.Buttons = {mrRetry, mrCancel};
      Box.EscapeResult = mrCancel;
      break;
    default:
      Box.Buttons = {mrOk};
      Box.EscapeResult = mrOk;
      break;
  }
  switch (Flags & 0xF0) {
    case MB_ICONHAND:
      Box.Icon = miError;
      break;
    case MB_ICONQUESTION:
      Box.Icon = miQuestion;
      break;
    case MB_ICONEXCLAMATION:
      Box.Icon = miExclamation;
      break;
    case MB_ICONASTERISK:
      Box.Icon = miInformation;
      break;
    default:
      Box.Icon = miNone;
      break;
  }
  const int Default = static_cast<int>((Flags & 0xF00) >> 8);
  Box.DefaultButton = Default < static_cast<int>(Box.Buttons.size()) ? Default : 0;
  return Box;
}

int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int) {
  static constexpr struct {
    TMsgDlgBtn Button;
    TModalResult Result;
  } Order[] = {{mbYes, mrYes},     {mbNo, mrNo},       {mbOK, mrOk},        {mbCancel, mrCancel},
               {mbAbort, mrAbort}, {mbRetry, mrRetry}, {mbIgnore, mrIgnore}};
  TMessageBoxRequest Box;
  Box.Text = Msg;
  switch (DlgType) {
    case mtWarning:
      Box.Caption = "Warning";
      Box.Icon = miExclamation;
      break;
    case mtError:
      Box.Caption = "Error";
      Box.Icon = miError;
      break;
    case mtInformation:
      Box.Caption = "Information";
      Box.Icon = miInformation;
      break;
    case mtConfirmation:
      Box.Caption = "Confirm";
      Box.Icon = miQuestion;
      break;
    case mtCustom:
      Box.Caption = Application->Title();
      Box.Icon = miNone;
      break;
  }
  Box.Buttons.clear();
  for (const auto& B : Order)
    if (Buttons.Contains(B.Button)) Box.Buttons.push_back(B.Result);
  if (Box.Buttons.empty()) Box.Buttons = {mrOk};
  // Escape gives Cancel when there is one, else the single button of a one-button box.
  Box.EscapeResult = mrNone;
  for (TModalResult R : Box.Buttons)
    if (R == mrCancel) Box.EscapeResult = mrCancel;
  if (Box.EscapeResult == mrNone && Box.Buttons.size() == 1) Box.EscapeResult = Box.Buttons[0];
  return UIBackend().MessageBox(Box);
}

bool TSaveDialog::Execute() {
  TSaveDialogRequest Request;
  Request.Title = FTitle.empty() ? "Save As" : FTitle;
  Request.Filters = SplitFilter(FFilter);
  Request.FilterIndex = FFilterIndex;
  Request.InitialDir = FInitialDir;
  Request.FileName = FFileName;
  Request.Options = FOptions;
  for (int Round = 0; Round < MaxDialogRounds; ++Round) {
    TSaveDialogRequest Answer = Request;
    if (!UIBackend().SaveDialog(Answer)) return false;
    std::string Name = Answer.FileName;
    if (Name.empty()) continue;
    if (Name[0] != '/') {
      std::string Dir = FInitialDir;
      if (!Dir.empty() && Dir.back() != '/') Dir += '/';
      Name = ExpandFileName(Dir + Name);
    }
    // The next round proposes what the user typed last.
    Request.FileName = Name;
    Request.FilterIndex = Answer.FilterIndex;
    if ((FOptions & ofPathMustExist) && !DirectoryExists(ExtractFilePath(Name))) {
      TMessageBoxRequest Box;
      Box.Caption = Request.Title;
      Box.Text = "The folder " + ExtractFilePath(Name) + " does not exist.\rCheck the name.";
      Box.Icon = miExclamation;
      UIBackend().MessageBox(Box);
      continue;
    }
    if ((FOptions & ofOverwritePrompt) && FileExists(Name) &&
        !AskYesNo(Name + " already exists.\rDo you want to replace it?", "Confirm " + Request.Title,
                  1))
      continue;
    FFileName = Name;
    FFilterIndex = Answer.FilterIndex;
    return true;
  }
  return false;
}
