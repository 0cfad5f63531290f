#include "Host/Dialogs.h"

#include "Host/Application.h"
#include "Host/FileUtils.h"
#include "Host/SysUtils.h"

namespace {

// A dialog whose back-end keeps offering refused names gets this many tries.
constexpr int MaxDialogRounds = 100;

std::vector<std::pair<std::string, std::string>> SplitFilter(const std::string& Filter) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (start <= Filter.size() && !Filter.empty()) {
    const auto bar = Filter.find('|', start);
    parts.push_back(
        Filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  std::vector<std::pair<std::string, std::string>> result;
  // A description without a mask is dropped, as the system dialog drops it.
  for (size_t i = 0; i + 1 < parts.size(); i += 2) result.emplace_back(parts[i], parts[i + 1]);
  return result;
}

bool AskYesNo(const std::string& Text, const std::string& Caption, int DefaultButton) {
  TMessageBoxRequest box;
  box.Caption = Caption;
  box.Text = Text;
  box.Icon = miExclamation;
  box.Buttons = {mrYes, mrNo};
  box.DefaultButton = DefaultButton;
  box.EscapeResult = mrNo;
  return UIBackend().MessageBox(box) == mrYes;
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

std::string TMessageBoxRequest::ButtonCaption(std::size_t Index) const {
  if (Index < Captions.size() && !Captions[Index].empty()) return Captions[Index];
  return Index < Buttons.size() ? MessageButtonCaption(Buttons[Index]) : std::string();
}

TMessageBoxRequest MessageBoxRequest(const std::string& Text, const std::string& Caption,
                                     std::uint32_t Flags) {
  TMessageBoxRequest box;
  box.Caption = Caption;
  box.Text = Text;
  switch (Flags & 0x0F) {
    case MB_OKCANCEL:
      box.Buttons = {mrOk, mrCancel};
      box.EscapeResult = mrCancel;
      break;
    case MB_ABORTRETRYIGNORE:
      box.Buttons = {mrAbort, mrRetry, mrIgnore};
      box.EscapeResult = mrNone;
      break;
    case MB_YESNOCANCEL:
      box.Buttons = {mrYes, mrNo, mrCancel};
      box.EscapeResult = mrCancel;
      break;
    case MB_YESNO:
      box.Buttons = {mrYes, mrNo};
      box.EscapeResult = mrNone;
      break;
    case MB_RETRYCANCEL:
      box.Buttons = {mrRetry, mrCancel};
      box.EscapeResult = mrCancel;
      break;
    default:
      box.Buttons = {mrOk};
      box.EscapeResult = mrOk;
      break;
  }
  switch (Flags & 0xF0) {
    case MB_ICONHAND:
      box.Icon = miError;
      break;
    case MB_ICONQUESTION:
      box.Icon = miQuestion;
      break;
    case MB_ICONEXCLAMATION:
      box.Icon = miExclamation;
      break;
    case MB_ICONASTERISK:
      box.Icon = miInformation;
      break;
    default:
      box.Icon = miNone;
      break;
  }
  const int defaultIndex = static_cast<int>((Flags & 0xF00) >> 8);
  box.DefaultButton = defaultIndex < static_cast<int>(box.Buttons.size()) ? defaultIndex : 0;
  return box;
}

int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int) {
  static constexpr struct {
    TMsgDlgBtn Button;
    TModalResult Result;
  } order[] = {{mbYes, mrYes},     {mbNo, mrNo},       {mbOK, mrOk},        {mbCancel, mrCancel},
               {mbAbort, mrAbort}, {mbRetry, mrRetry}, {mbIgnore, mrIgnore}};
  TMessageBoxRequest box;
  box.Text = Msg;
  switch (DlgType) {
    case mtWarning:
      box.Caption = "Warning";
      box.Icon = miExclamation;
      break;
    case mtError:
      box.Caption = "Error";
      box.Icon = miError;
      break;
    case mtInformation:
      box.Caption = "Information";
      box.Icon = miInformation;
      break;
    case mtConfirmation:
      box.Caption = "Confirm";
      box.Icon = miQuestion;
      break;
    case mtCustom:
      box.Caption = Application->Title();
      box.Icon = miNone;
      break;
  }
  box.Buttons.clear();
  for (const auto& b : order)
    if (Buttons.Contains(b.Button)) box.Buttons.push_back(b.Result);
  if (box.Buttons.empty()) box.Buttons = {mrOk};
  // Escape gives Cancel when there is one, else the single button of a one-button box.
  box.EscapeResult = mrNone;
  for (TModalResult r : box.Buttons)
    if (r == mrCancel) box.EscapeResult = mrCancel;
  if (box.EscapeResult == mrNone && box.Buttons.size() == 1) box.EscapeResult = box.Buttons[0];
  return UIBackend().MessageBox(box);
}

bool TSaveDialog::Execute() {
  TSaveDialogRequest request;
  request.Title = FTitle.empty() ? "Save As" : FTitle;
  request.Filters = SplitFilter(FFilter);
  request.FilterIndex = FFilterIndex;
  request.InitialDir = FInitialDir;
  request.FileName = FFileName;
  request.Options = FOptions;
  for (int round = 0; round < MaxDialogRounds; ++round) {
    TSaveDialogRequest answer = request;
    if (!UIBackend().SaveDialog(answer)) return false;
    std::string name = answer.FileName;
    if (name.empty()) continue;
    if (name[0] != '/') {
      std::string dir = FInitialDir;
      if (!dir.empty() && dir.back() != '/') dir += '/';
      name = ExpandFileName(dir + name);
    }
    // The next round proposes what the user typed last.
    request.FileName = name;
    request.FilterIndex = answer.FilterIndex;
    if ((FOptions & ofPathMustExist) && !DirectoryExists(ExtractFilePath(name))) {
      TMessageBoxRequest box;
      box.Caption = request.Title;
      box.Text = "The folder " + ExtractFilePath(name) + " does not exist.\rCheck the name.";
      box.Icon = miExclamation;
      UIBackend().MessageBox(box);
      continue;
    }
    if ((FOptions & ofOverwritePrompt) && FileExists(name) &&
        !AskYesNo(name + " already exists.\rDo you want to replace it?", "Confirm " + request.Title,
                  1))
      continue;
    FFileName = name;
    FFilterIndex = answer.FilterIndex;
    return true;
  }
  return false;
}
