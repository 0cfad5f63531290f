#include "Host/TerminalBackend.h"

#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#include "Host/Application.h"
#include "Host/ComCtrls.h"
#include "Host/FileUtils.h"
#include "Host/Forms.h"
#include "Host/HiddenWindow.h"
#include "Host/MessagePump.h"
#include "Host/StdCtrls.h"
#include "Host/TerminalProgress.h"

namespace {

constexpr std::uintptr_t TickTimer = 1;
// Keys are looked for this often; the status line is redrawn at most every other tick.
constexpr plat::UINT TickMs = 50;
constexpr std::chrono::milliseconds RedrawEvery{100};
const char SpinnerFrames[] = {'|', '/', '-', '\\'};

using Clock = std::chrono::steady_clock;

const char* IconMark(TMessageIcon Icon) {
  switch (Icon) {
    case miError:
      return "[x] ";
    case miQuestion:
      return "[?] ";
    case miExclamation:
      return "[!] ";
    case miInformation:
      return "[i] ";
    default:
      return "";
  }
}

std::string ButtonText(TModalResult Button) {
  return StripAccessKey(MessageButtonCaption(Button));
}

char ButtonKey(TModalResult Button) {
  const std::string Caption = MessageButtonCaption(Button);
  const char Key = AccessKeyOf(Caption);
  if (Key) return Key;
  const std::string Text = StripAccessKey(Caption);
  return Text.empty() ? 0 : static_cast<char>(std::toupper(static_cast<unsigned char>(Text[0])));
}

// The form's controls, and those of the controls inside it.
void CollectControls(const TWinControl& Parent, std::vector<TControl*>& Out) {
  for (int i = 0; i < Parent.ControlCount(); ++i) {
    TControl* C = Parent.Controls(i);
    Out.push_back(C);
    if (auto* W = dynamic_cast<TWinControl*>(C)) CollectControls(*W, Out);
  }
}

template <class T>
std::vector<T*> ControlsOf(const TCustomForm& Form) {
  std::vector<TControl*> All;
  CollectControls(Form, All);
  std::vector<T*> Result;
  for (TControl* C : All)
    if (auto* X = dynamic_cast<T*>(C)) Result.push_back(X);
  return Result;
}

std::vector<TLabel*> LabelsTopDown(const TCustomForm& Form) {
  std::vector<TLabel*> Labels = ControlsOf<TLabel>(Form);
  std::stable_sort(Labels.begin(), Labels.end(),
                   [](const TLabel* A, const TLabel* B) { return A->Top() < B->Top(); });
  return Labels;
}

// The button that cancels the form: its Cancel button, else one captioned Cancel, else
// its only button.
TButton* CancelButtonOf(const TCustomForm& Form) {
  if (TButton* B = Form.CancelButton()) return B;
  const std::vector<TButton*> Buttons = ControlsOf<TButton>(Form);
  for (TButton* B : Buttons)
    if (StripAccessKey(B->Caption()) == "Cancel") return B;
  return Buttons.size() == 1 ? Buttons[0] : nullptr;
}

TButton* DefaultButtonOf(const TCustomForm& Form) {
  if (TButton* B = Form.DefaultButton()) return B;
  const std::vector<TButton*> Buttons = ControlsOf<TButton>(Form);
  return Buttons.empty() ? nullptr : Buttons[0];
}

// Tells the back-end when a form it shows is destroyed without being hidden first.
class TFormWatch : public TComponent {
 public:
  explicit TFormWatch(TTerminalBackend& Backend) : TComponent(nullptr), FBackend(Backend) {}
  std::string ClassName() const override { return "TFormWatch"; }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove) FBackend.FormDestroyed(AComponent);
  }

 private:
  TTerminalBackend& FBackend;
};

plat::LRESULT TickWndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                          plat::LPARAM lParam) {
  if (msg == plat::WM_TIMER && wParam == TickTimer) {
    if (auto* Self = reinterpret_cast<TTerminalBackend*>(plat::GetWindowLongA(hwnd, 0)))
      Self->Tick();
    return 0;
  }
  return plat::DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

struct TTerminalBackend::TShownForm {
  TCustomForm* Form = nullptr;
  TFormKind Kind = fkPlain;
  bool Dirty = true;
  bool Paged = false;
  Clock::time_point Started = Clock::now();
  Clock::time_point LastDraw{};
  unsigned Frame = 0;
};

TTerminalBackend::TTerminalBackend() : TTerminalBackend(TSettings{}) {}

TTerminalBackend::TTerminalBackend(const TSettings& Settings)
    : FSettings(Settings), FInput(Settings.InputFd) {
  FOutputIsTerminal = ::isatty(::fileno(FSettings.Output)) == 1;
  FWatch = std::make_unique<TFormWatch>(*this);
}

TTerminalBackend::~TTerminalBackend() {
  for (auto& Shown : FForms)
    if (Shown->Form) Shown->Form->RemoveFreeNotification(FWatch.get());
  FForms.clear();
  if (FWindow) plat::DestroyWindow(FWindow);
  ClearStatusLine();
}

bool TTerminalBackend::Interactive() const {
  return FInput.IsTerminal() && !FSettings.AnswerYes;
}

void TTerminalBackend::Print(const std::string& Text) {
  std::fputs(Text.c_str(), FSettings.Output);
  std::fflush(FSettings.Output);
}

void TTerminalBackend::ClearStatusLine() {
  if (!FStatusDrawn) return;
  FStatusDrawn = false;
  Print("\r\033[K");
}

int TTerminalBackend::Columns() const {
  winsize W{};
  if (::ioctl(::fileno(FSettings.Output), TIOCGWINSZ, &W) == 0 && W.ws_col > 0) return W.ws_col;
  return 80;
}

int TTerminalBackend::Rows() const {
  winsize W{};
  if (::ioctl(::fileno(FSettings.Output), TIOCGWINSZ, &W) == 0 && W.ws_row > 1) return W.ws_row;
  return 24;
}

void TTerminalBackend::StartTicking() {
  if (FTicking++ > 0) return;
  if (!FWindow) FWindow = CreateHiddenWindow("TTerminalBackendWindow", &TickWndProc, this);
  if (FWindow) plat::SetTimer(FWindow, TickTimer, TickMs, nullptr);
}

void TTerminalBackend::StopTicking() {
  if (FTicking == 0 || --FTicking > 0) return;
  if (FWindow) plat::KillTimer(FWindow, TickTimer);
}

int TTerminalBackend::WaitKey() {
  ++FAsking;
  int Key = KeyNone;
  // The terminal wakes nobody: look at it between messages, and at least every tick.
  TMessagePump Pump(*Application, {.HandleErrors = true});
  Pump.PumpUntil(
      [&] {
        Key = FInput.ReadKey();
        return Key != KeyNone || Application->Terminated();
      },
      TDeadline::Never(), TickMs);
  if (Key == KeyNone) Key = KeyClosed;
  --FAsking;
  return Key;
}

bool TTerminalBackend::ReadLine(std::string& Line) {
  Line.clear();
  for (;;) {
    const int Key = WaitKey();
    if (Key == KeyEnter) break;
    if (Key == KeyEscape || Key == KeyClosed || Key == KeyInterrupt) {
      if (Key == KeyInterrupt) Application->Terminate();
      Print("\n");
      return false;
    }
    if (Key == KeyBackspace) {
      if (!Line.empty()) {
        Line.pop_back();
        Print("\b \b");
      }
    } else if (Key >= 32 && Key != 127) {
      Line += static_cast<char>(Key);
      Print(std::string(1, static_cast<char>(Key)));
    }
  }
  Print("\n");
  return true;
}

void TTerminalBackend::Beep(plat::UINT) {
  if (FOutputIsTerminal) Print("\a");
}

void TTerminalBackend::ShowMessage(const std::string& Title, const std::string& Text) {
  ClearStatusLine();
  std::string Out = Title.empty() ? std::string() : Title + ": ";
  const std::vector<std::string> Lines = MessageLines(Text);
  for (std::size_t i = 0; i < Lines.size(); ++i) Out += (i ? "\n  " : "") + Lines[i];
  std::fprintf(stderr, "%s\n", Out.c_str());
}

TModalResult TTerminalBackend::MessageBox(const TMessageBoxRequest& Request) {
  ClearStatusLine();
  const std::vector<TModalResult>& Buttons = Request.Buttons;
  const int DefaultIndex =
      Request.DefaultButton >= 0 && Request.DefaultButton < static_cast<int>(Buttons.size())
          ? Request.DefaultButton
          : 0;
  const TModalResult Default = Buttons.empty() ? mrOk : Buttons[DefaultIndex];
  std::string Out = "\n";
  Out.append(IconMark(Request.Icon)).append(Request.Caption).append("\n");
  for (const std::string& Line : MessageLines(Request.Text))
    Out.append("    ").append(Line).append("\n");
  std::string Names;
  for (TModalResult B : Buttons) {
    if (!Names.empty()) Names += '/';
    Names += ButtonText(B);
  }
  Out.append("    ").append(Names).append(" [").append(ButtonText(Default)).append("]: ");
  Print(Out);

  // What a refusal answers: the box's Escape result, else No or Cancel when it has one.
  auto Refusal = [&] {
    if (Request.EscapeResult != mrNone) return Request.EscapeResult;
    for (TModalResult B : {mrNo, mrCancel})
      if (std::find(Buttons.begin(), Buttons.end(), B) != Buttons.end()) return B;
    return Default;
  };
  TModalResult Answer = mrNone;
  if (Application->Terminated()) {
    Answer = Refusal();
  } else if (!Interactive()) {
    Answer = Default;
    if (FSettings.AnswerYes && std::find(Buttons.begin(), Buttons.end(), mrYes) != Buttons.end())
      Answer = mrYes;
  } else {
    FInput.EnterKeyMode();
    while (Answer == mrNone) {
      const int Key = WaitKey();
      if (Key == KeyEnter || Key == KeyClosed) {
        Answer = Key == KeyClosed && Application->Terminated() ? Refusal() : Default;
      } else if (Key == KeyEscape) {
        if (Request.EscapeResult != mrNone) Answer = Request.EscapeResult;
      } else if (Key == KeyInterrupt) {
        Application->Terminate();
        Answer = Refusal();
      } else if (Key > 0 && Key < 128) {
        const char Upper = static_cast<char>(std::toupper(Key));
        for (TModalResult B : Buttons)
          if (ButtonKey(B) == Upper) Answer = B;
      }
      if (Answer == mrNone) Beep(0);
    }
    FInput.LeaveKeyMode();
  }
  Print(ButtonText(Answer) + "\n");
  return Answer;
}

bool TTerminalBackend::SaveDialog(TSaveDialogRequest& Request) {
  ClearStatusLine();
  std::string Dir = Request.InitialDir;
  if (Dir.empty()) {
    char Cwd[4096];
    if (::getcwd(Cwd, sizeof Cwd)) Dir = Cwd;
  }
  if (!Dir.empty() && Dir.back() != '/') Dir += '/';
  const std::string Proposed = !Request.FileName.empty() && Request.FileName[0] == '/'
                                   ? Request.FileName
                                   : Dir + Request.FileName;
  std::string Out = "\n" + Request.Title + "\n";
  const int FilterCount = static_cast<int>(Request.Filters.size());
  if (FilterCount > 1) {
    Out += "    File types:";
    for (int i = 0; i < FilterCount; ++i)
      Out += (i ? ", " : " ") + std::to_string(i + 1) + " " + Request.Filters[i].first;
    Out += "\n";
  }
  Out += "    File name [" + Proposed + "]: ";
  Print(Out);
  if (Application->Terminated()) {
    Print("\n");
    return false;
  }
  if (!Interactive()) {
    // The framework asks again when it refuses the name; the same name again is no answer.
    if (Proposed == FLastAutoName) {
      Print("(not saved: the proposed file cannot be used)\n");
      return false;
    }
    FLastAutoName = Proposed;
    Print(Proposed + "\n");
    Request.FileName = Proposed;
    return true;
  }
  FInput.EnterKeyMode();
  std::string Name;
  bool Accepted = ReadLine(Name);
  if (Accepted) {
    if (Name.empty()) Name = Proposed;
    if (Name.rfind("~/", 0) == 0 && std::getenv("HOME"))
      Name = std::getenv("HOME") + Name.substr(1);
    if (Name[0] != '/') Name = Dir + Name;
    // The type only matters for a name without an extension, which it then supplies.
    if (FilterCount > 1 && ExtractFileExt(Name).empty()) {
      Print("    File type 1-" + std::to_string(FilterCount) + " [" +
            std::to_string(Request.FilterIndex) + "]: ");
      for (;;) {
        const int Key = WaitKey();
        if (Key == KeyEnter || Key == KeyClosed) break;
        if (Key == KeyEscape || Key == KeyInterrupt) {
          if (Key == KeyInterrupt) Application->Terminate();
          Accepted = false;
          break;
        }
        if (Key >= '1' && Key < '1' + FilterCount) {
          Request.FilterIndex = Key - '0';
          break;
        }
        Beep(0);
      }
      Print(Accepted ? std::to_string(Request.FilterIndex) + "\n" : "\n");
    }
  }
  FInput.LeaveKeyMode();
  if (!Accepted) return false;
  Request.FileName = Name;
  return true;
}

TTerminalBackend::TShownForm* TTerminalBackend::Find(const TCustomForm* Form) {
  for (auto& Shown : FForms)
    if (Shown->Form == Form) return Shown.get();
  return nullptr;
}

void TTerminalBackend::FormShown(TCustomForm& Form) {
  if (Find(&Form)) return;
  ClearStatusLine();
  auto Shown = std::make_unique<TShownForm>();
  Shown->Form = &Form;
  if (!ControlsOf<TProgressBar>(Form).empty())
    Shown->Kind = fkProgress;
  else if (!ControlsOf<TMemo>(Form).empty())
    Shown->Kind = fkReadMe;
  else if (ControlsOf<TButton>(Form).empty())
    Shown->Kind = fkWait;
  Form.FreeNotification(FWatch.get());
  TShownForm& S = *Shown;
  FForms.push_back(std::move(Shown));
  if (Interactive()) FInput.EnterKeyMode();
  StartTicking();
  if (S.Kind == fkPlain) {
    std::string Out = "\n" + Form.Caption() + "\n";
    for (TLabel* L : LabelsTopDown(Form))
      for (const std::string& Line : MessageLines(L->Caption())) Out += "    " + Line + "\n";
    Print(Out);
  } else if (S.Kind != fkReadMe) {
    Draw(S, false);
  }
}

void TTerminalBackend::FormHidden(TCustomForm& Form) {
  TShownForm* Shown = Find(&Form);
  if (!Shown) return;
  if (Shown->Kind == fkProgress)
    Draw(*Shown, true);
  else
    ClearStatusLine();
  Form.RemoveFreeNotification(FWatch.get());
  FormDestroyed(&Form);
}

void TTerminalBackend::FormDestroyed(TComponent* Form) {
  const auto It =
      std::find_if(FForms.begin(), FForms.end(), [&](const auto& S) { return S->Form == Form; });
  if (It == FForms.end()) return;
  if ((*It)->Kind == fkWait) ClearStatusLine();
  FForms.erase(It);
  if (Interactive()) FInput.LeaveKeyMode();
  StopTicking();
}

void TTerminalBackend::ControlChanged(TControl& Control) {
  for (TWinControl* P = Control.Parent(); P; P = P->Parent()) {
    if (auto* Form = dynamic_cast<TCustomForm*>(P)) {
      if (TShownForm* Shown = Find(Form)) Shown->Dirty = true;
      return;
    }
  }
}

void TTerminalBackend::ModalPass(TCustomForm& Form) {
  TShownForm* Shown = Find(&Form);
  if (!Shown) return;
  if (Shown->Kind == fkReadMe && !Shown->Paged) {
    Shown->Paged = true;
    std::vector<std::string> Lines;
    for (TMemo* Memo : ControlsOf<TMemo>(Form))
      for (int i = 0; i < Memo->Lines()->Count(); ++i) Lines.push_back(Memo->Lines()->Strings(i));
    Print("\n" + Form.Caption() + "\n");
    if (Interactive())
      PageText(Lines);
    else
      for (const std::string& Line : Lines) Print("    " + Line + "\n");
    if (TButton* B = DefaultButtonOf(Form))
      B->Click();
    else
      Form.SetModalResult(mrOk);
    return;
  }
  if (Shown->Kind == fkPlain && !Interactive()) {
    if (TButton* B = DefaultButtonOf(Form))
      B->Click();
    else
      Form.SetModalResult(mrOk);
  }
}

void TTerminalBackend::Draw(TShownForm& Shown, bool Final) {
  TCustomForm& Form = *Shown.Form;
  Shown.LastDraw = Clock::now();
  Shown.Dirty = false;
  if (Shown.Kind == fkWait) {
    std::string Text;
    for (TLabel* L : LabelsTopDown(Form)) Text += (Text.empty() ? "" : " ") + L->Caption();
    if (Text.empty()) Text = Form.Caption();
    if (!FOutputIsTerminal) {
      if (Shown.Frame++ == 0) Print(Text + "\n");
      return;
    }
    std::string Line = std::string(1, SpinnerFrames[Shown.Frame++ % 4]) + " " + Text;
    if (static_cast<int>(Line.size()) >= Columns())
      Line.resize(static_cast<std::size_t>(Columns() - 1));
    Print("\r" + Line + "\033[K");
    FStatusDrawn = true;
    return;
  }
  if (Shown.Kind != fkProgress) return;
  TProgressView View;
  const std::vector<TLabel*> Labels = LabelsTopDown(Form);
  if (!Labels.empty()) View.Title = StripAccessKey(Labels[0]->Caption());
  if (Labels.size() > 1) View.Counts = Labels[1]->Caption();
  ReadByteCounts(View.Counts, View.Received, View.Total);
  if (TProgressBar* Bar = ControlsOf<TProgressBar>(Form).front(); Bar->Max() > Bar->Min())
    View.Percent = (Bar->Position() - Bar->Min()) * 100 / (Bar->Max() - Bar->Min());
  if (View.Total < 0 && View.Received >= 0) View.Percent = -1;
  View.Seconds = std::chrono::duration<double>(Clock::now() - Shown.Started).count();
  const std::string Line = FormatProgressLine(View, FOutputIsTerminal ? Columns() : 0);
  if (FOutputIsTerminal) {
    Print("\r" + Line + "\033[K" + (Final ? "\n" : ""));
    FStatusDrawn = !Final;
  } else if (Final) {
    Print(Line + "\n");
  }
}

void TTerminalBackend::Tick() {
  if (FAsking > 0 || FForms.empty()) return;
  TShownForm& Top = *FForms.back();
  const auto Now = Clock::now();
  if ((Top.Kind == fkWait || Top.Dirty) && Now - Top.LastDraw >= RedrawEvery) Draw(Top, false);
  if (!Interactive()) return;
  TCustomForm* Form = Top.Form;
  for (int Key = FInput.ReadKey(); Key != KeyNone && Key != KeyClosed; Key = FInput.ReadKey()) {
    if (Key != KeyEscape && Key != KeyInterrupt && !(Key == KeyEnter && Top.Kind == fkPlain))
      continue;
    TButton* Button = Key == KeyEnter ? DefaultButtonOf(*Form) : CancelButtonOf(*Form);
    if (Button) {
      // The form (and Top with it) may be gone after the click.
      Button->Click();
      return;
    }
    if (Key == KeyInterrupt) {
      // Nothing to cancel with: the user wants out of the whole program.
      Application->Terminate();
      return;
    }
  }
}

void TTerminalBackend::PageText(const std::vector<std::string>& Lines) {
  std::string Pager = FSettings.Pager;
  if (Pager.empty() && std::getenv("PAGER")) Pager = std::getenv("PAGER");
  if (!Pager.empty()) {
    FInput.SuspendKeyMode();
    if (std::FILE* P = ::popen(Pager.c_str(), "w")) {
      for (const std::string& Line : Lines) {
        std::fputs(Line.c_str(), P);
        std::fputc('\n', P);
      }
      const int Status = ::pclose(P);
      FInput.ResumeKeyMode();
      if (Status != -1 && WIFEXITED(Status) && WEXITSTATUS(Status) != 127) return;
    } else {
      FInput.ResumeKeyMode();
    }
  }
  BuiltInPager(Lines);
}

void TTerminalBackend::BuiltInPager(const std::vector<std::string>& Lines) {
  const std::size_t Page = static_cast<std::size_t>(std::max(2, Rows() - 2));
  const int Width = Columns();
  std::size_t Next = 0;
  std::size_t Show = Page;
  for (;;) {
    for (; Show > 0 && Next < Lines.size(); --Show, ++Next) {
      std::string Line = Lines[Next];
      if (static_cast<int>(Line.size()) >= Width) Line.resize(static_cast<std::size_t>(Width - 1));
      Print(Line + "\n");
    }
    const bool End = Next >= Lines.size();
    Print(End ? "-- End of read-me: press Enter --"
              : "-- More (" + std::to_string(Next * 100 / Lines.size()) +
                    "%): Space next page, Enter next line, q quit --");
    int Key = WaitKey();
    while (!(Key == ' ' || Key == KeyEnter || Key == 'q' || Key == 'Q' || Key == KeyEscape ||
             Key == KeyInterrupt || Key == KeyClosed))
      Key = WaitKey();
    Print("\r\033[K");
    if (Key == KeyInterrupt) Application->Terminate();
    if (End || Key == 'q' || Key == 'Q' || Key == KeyEscape || Key == KeyInterrupt ||
        Key == KeyClosed)
      return;
    Show = Key == ' ' ? Page : 1;
  }
}
