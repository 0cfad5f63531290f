#include "Host/TerminalBackend.h"

#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#include "Host/Application.h"
#include "Host/Backends/FormReading.h"
#include "Host/Backends/TerminalInput.h"
#include "Host/ComCtrls.h"
#include "Host/FileUtils.h"
#include "Host/Forms.h"
#include "Host/HiddenWindow.h"
#include "Host/MessagePump.h"
#include "Host/StdCtrls.h"
#include "Host/TerminalProgress.h"
#include "Host/TerminalText.h"

namespace {

constexpr std::uintptr_t TickTimer = 1;
// Keys are looked for this often; the status line is redrawn at most every other tick.
constexpr plat::UINT TickMs = 50;
constexpr std::chrono::milliseconds RedrawEvery{100};
const char SpinnerFrames[] = {'|', '/', '-', '\\'};

using Clock = std::chrono::steady_clock;

// Every text the back-end prints may come from a server: none reaches the terminal raw.
std::string Safe(const std::string& Text) {
  return TerminalSafeText(Text);
}

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

std::string ButtonText(const std::string& Caption) {
  return StripAccessKey(Caption);
}

char ButtonKey(const std::string& Caption) {
  const std::string& caption = Caption;
  const char key = AccessKeyOf(caption);
  if (key) return key;
  const std::string text = StripAccessKey(caption);
  return text.empty() ? 0 : static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
}

using formreading::CancelButtonOf;
using formreading::DefaultButtonOf;

template <class T>
std::vector<T*> ControlsOf(const TCustomForm& Form) {
  return formreading::ShownControlsOf<T>(Form);
}

std::vector<TLabel*> LabelsTopDown(const TCustomForm& Form) {
  std::vector<TLabel*> labels = ControlsOf<TLabel>(Form);
  std::stable_sort(labels.begin(), labels.end(),
                   [](const TLabel* A, const TLabel* B) { return A->Top() < B->Top(); });
  return labels;
}

plat::LRESULT TickWndProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                          plat::LPARAM lParam) {
  if (msg == plat::WM_TIMER && wParam == TickTimer) {
    if (auto* self = reinterpret_cast<TTerminalBackend*>(plat::GetWindowLongA(hwnd, 0)))
      self->Tick();
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
    : FSettings(Settings), FInput(std::make_unique<TTerminalInput>(Settings.InputFd)) {
  FOutputIsTerminal = ::isatty(::fileno(FSettings.Output)) == 1;
  FWatch = std::make_unique<TFreeWatch>([this](TComponent* Form) { FormDestroyed(Form); });
}

TTerminalBackend::~TTerminalBackend() {
  for (auto& shown : FForms)
    if (shown->Form) shown->Form->RemoveFreeNotification(FWatch.get());
  FForms.clear();
  if (FWindow) plat::DestroyWindow(FWindow);
  ClearStatusLine();
}

bool TTerminalBackend::Interactive() const {
  return FInput->IsTerminal() && !FSettings.AnswerYes;
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
  winsize w{};
  if (::ioctl(::fileno(FSettings.Output), TIOCGWINSZ, &w) == 0 && w.ws_col > 0) return w.ws_col;
  return 80;
}

int TTerminalBackend::Rows() const {
  winsize w{};
  if (::ioctl(::fileno(FSettings.Output), TIOCGWINSZ, &w) == 0 && w.ws_row > 1) return w.ws_row;
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
  int key = KeyNone;
  // The terminal wakes nobody: look at it between messages, and at least every tick.
  TMessagePump pump(*Application, {.HandleErrors = true});
  pump.PumpUntil(
      [&] {
        key = FInput->ReadKey();
        return key != KeyNone || Application->Terminated();
      },
      TDeadline::Never(), TickMs);
  if (key == KeyNone) key = KeyClosed;
  --FAsking;
  return key;
}

bool TTerminalBackend::ReadLine(std::string& Line) {
  Line.clear();
  for (;;) {
    const int key = WaitKey();
    if (key == KeyEnter) break;
    if (key == KeyEscape || key == KeyClosed || key == KeyInterrupt) {
      if (key == KeyInterrupt) Interrupt();
      Print("\n");
      return false;
    }
    if (key == KeyBackspace) {
      if (!Line.empty()) {
        Line.pop_back();
        Print("\b \b");
      }
    } else if (key >= 32 && key != 127) {
      Line += static_cast<char>(key);
      Print(std::string(1, static_cast<char>(key)));
    }
  }
  return true;
}

void TTerminalBackend::Interrupt() {
  FInterrupted = true;
  Application->Terminate();
}

bool TTerminalBackend::Interrupted() const {
  // The quit that Ctrl-C posted sets Terminated only once a loop takes it: a question
  // asked before that must not take a key typed ahead as its answer.
  return FInterrupted || Application->Terminated();
}

void TTerminalBackend::Beep(plat::UINT) {
  if (FOutputIsTerminal) Print("\a");
}

void TTerminalBackend::ShowMessage(const std::string& Title, const std::string& Text) {
  ClearStatusLine();
  std::string out = Title.empty() ? std::string() : Safe(Title) + ": ";
  const std::vector<std::string> lines = MessageLines(Text);
  for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\n  " : "") + Safe(lines[i]);
  std::fprintf(stderr, "%s\n", out.c_str());
}

TModalResult TTerminalBackend::MessageBox(const TMessageBoxRequest& Request) {
  ClearStatusLine();
  const std::vector<TModalResult>& buttons = Request.Buttons;
  const int defaultIndex =
      Request.DefaultButton >= 0 && Request.DefaultButton < static_cast<int>(buttons.size())
          ? Request.DefaultButton
          : 0;
  const TModalResult defaultResult = buttons.empty() ? mrOk : buttons[defaultIndex];
  std::string out = "\n";
  out.append(IconMark(Request.Icon)).append(Safe(Request.Caption)).append("\n");
  for (const std::string& line : MessageLines(Request.Text))
    out.append("    ").append(Safe(line)).append("\n");
  // The caption of the button that gives Result (a result no button gives: its standard).
  auto captionOf = [&](TModalResult Result) {
    for (std::size_t i = 0; i < buttons.size(); ++i)
      if (buttons[i] == Result) return Request.ButtonCaption(i);
    return MessageButtonCaption(Result);
  };
  std::string names;
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (!names.empty()) names += '/';
    names += ButtonText(Request.ButtonCaption(i));
  }
  out.append("    ")
      .append(names)
      .append(" [")
      .append(ButtonText(captionOf(defaultResult)))
      .append("]: ");
  Print(out);

  // What a refusal answers: the box's Escape result, else No or Cancel when it has one.
  auto refusal = [&] {
    if (Request.EscapeResult != mrNone) return Request.EscapeResult;
    for (TModalResult b : {mrNo, mrCancel})
      if (std::find(buttons.begin(), buttons.end(), b) != buttons.end()) return b;
    return defaultResult;
  };
  TModalResult answer = mrNone;
  if (Interrupted()) {
    answer = refusal();
  } else if (!Interactive()) {
    // Answering for the user takes what the box proposes, never more: a question that
    // defaults to No (replace a file?) stays No.
    answer = defaultResult;
  } else {
    FInput->EnterKeyMode();
    while (answer == mrNone) {
      const int key = WaitKey();
      if (key == KeyEnter || key == KeyClosed) {
        answer = key == KeyClosed && Application->Terminated() ? refusal() : defaultResult;
      } else if (key == KeyEscape) {
        if (Request.EscapeResult != mrNone) answer = Request.EscapeResult;
      } else if (key == KeyInterrupt) {
        Interrupt();
        answer = refusal();
      } else if (key > 0 && key < 128) {
        const char upper = static_cast<char>(std::toupper(key));
        for (std::size_t i = 0; i < buttons.size(); ++i)
          if (ButtonKey(Request.ButtonCaption(i)) == upper) answer = buttons[i];
      }
      if (answer == mrNone) Beep(0);
    }
    FInput->LeaveKeyMode();
  }
  Print(ButtonText(captionOf(answer)) + "\n");
  return answer;
}

bool TTerminalBackend::SaveDialog(TSaveDialogRequest& Request) {
  ClearStatusLine();
  std::string dir = Request.InitialDir;
  if (dir.empty()) {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) dir = cwd;
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  const std::string proposed = !Request.FileName.empty() && Request.FileName[0] == '/'
                                   ? Request.FileName
                                   : dir + Request.FileName;
  std::string out = "\n" + Safe(Request.Title) + "\n";
  const int filterCount = static_cast<int>(Request.Filters.size());
  if (filterCount > 1) {
    out += "    File types:";
    for (int i = 0; i < filterCount; ++i)
      out += (i ? ", " : " ") + std::to_string(i + 1) + " " + Safe(Request.Filters[i].first);
    out += "\n";
  }
  out += "    File name [" + Safe(proposed) + "]: ";
  Print(out);
  if (Interrupted()) {
    Print("\n");
    return false;
  }
  if (!Interactive()) {
    // The framework asks again when it refuses the name; the same name again is no answer.
    if (proposed == FLastAutoName) {
      Print("(not saved: the proposed file cannot be used)\n");
      return false;
    }
    FLastAutoName = proposed;
    Print(Safe(proposed) + "\n");
    Request.FileName = proposed;
    return true;
  }
  FInput->EnterKeyMode();
  std::string name;
  bool accepted = ReadLine(name);
  if (accepted) {
    // The name taken is shown in full after Enter: the proposed one, or where a typed
    // one leads.
    const std::string typed = name;
    if (name.empty()) name = proposed;
    if (name.rfind("~/", 0) == 0 && std::getenv("HOME"))
      name = std::getenv("HOME") + name.substr(1);
    if (name[0] != '/') name = dir + name;
    Print(typed.empty() ? Safe(name) + "\n" : typed == name ? "\n" : " (" + Safe(name) + ")\n");
    // The type only matters for a name without an extension, which it then supplies.
    if (filterCount > 1 && ExtractFileExt(name).empty()) {
      Print("    File type 1-" + std::to_string(filterCount) + " [" +
            std::to_string(Request.FilterIndex) + "]: ");
      for (;;) {
        const int key = WaitKey();
        if (key == KeyEnter || key == KeyClosed) break;
        if (key == KeyEscape || key == KeyInterrupt) {
          if (key == KeyInterrupt) Interrupt();
          accepted = false;
          break;
        }
        if (key >= '1' && key < '1' + filterCount) {
          Request.FilterIndex = key - '0';
          break;
        }
        Beep(0);
      }
      Print(accepted ? std::to_string(Request.FilterIndex) + "\n" : "\n");
    }
  }
  FInput->LeaveKeyMode();
  if (!accepted) return false;
  Request.FileName = name;
  return true;
}

TTerminalBackend::TShownForm* TTerminalBackend::Find(const TCustomForm* Form) {
  for (auto& shown : FForms)
    if (shown->Form == Form) return shown.get();
  return nullptr;
}

void TTerminalBackend::FormShown(TCustomForm& Form) {
  if (Find(&Form)) return;
  ClearStatusLine();
  auto shown = std::make_unique<TShownForm>();
  shown->Form = &Form;
  if (!ControlsOf<TProgressBar>(Form).empty())
    shown->Kind = fkProgress;
  else if (!ControlsOf<TMemo>(Form).empty())
    shown->Kind = fkReadMe;
  else if (ControlsOf<TButton>(Form).empty())
    shown->Kind = fkWait;
  Form.FreeNotification(FWatch.get());
  TShownForm& s = *shown;
  FForms.push_back(std::move(shown));
  if (Interactive()) FInput->EnterKeyMode();
  StartTicking();
  if (s.Kind == fkPlain) {
    std::string out = "\n" + Safe(Form.Caption()) + "\n";
    for (TLabel* l : LabelsTopDown(Form))
      for (const std::string& line : MessageLines(l->Caption())) out += "    " + Safe(line) + "\n";
    Print(out);
  } else if (s.Kind != fkReadMe) {
    Draw(s, false);
  }
}

void TTerminalBackend::FormHidden(TCustomForm& Form) {
  TShownForm* shown = Find(&Form);
  if (!shown) return;
  if (shown->Kind == fkProgress)
    Draw(*shown, true);
  else
    ClearStatusLine();
  Form.RemoveFreeNotification(FWatch.get());
  FormDestroyed(&Form);
}

void TTerminalBackend::FormDestroyed(TComponent* Form) {
  const auto it =
      std::find_if(FForms.begin(), FForms.end(), [&](const auto& S) { return S->Form == Form; });
  if (it == FForms.end()) return;
  if ((*it)->Kind == fkWait) ClearStatusLine();
  FForms.erase(it);
  if (Interactive()) FInput->LeaveKeyMode();
  StopTicking();
}

void TTerminalBackend::ControlChanged(TControl& Control) {
  for (TWinControl* p = Control.Parent(); p; p = p->Parent()) {
    if (auto* form = dynamic_cast<TCustomForm*>(p)) {
      if (TShownForm* shown = Find(form)) shown->Dirty = true;
      return;
    }
  }
}

void TTerminalBackend::ModalPass(TCustomForm& Form) {
  TShownForm* shown = Find(&Form);
  if (!shown) return;
  if (shown->Kind == fkReadMe && !shown->Paged) {
    shown->Paged = true;
    std::vector<std::string> lines;
    for (TMemo* memo : ControlsOf<TMemo>(Form))
      for (int i = 0; i < memo->Lines()->Count(); ++i) lines.push_back(memo->Lines()->Strings(i));
    for (std::string& line : lines) line = Safe(line);
    // Appended piece by piece: GCC 12 at -O2 takes "\n" + string for an overlapping copy
    // (-Wrestrict).
    std::string caption = "\n";
    caption += Safe(Form.Caption());
    caption += '\n';
    Print(caption);
    if (Interactive())
      PageText(lines);
    else
      for (const std::string& line : lines) Print("    " + line + "\n");
    if (TButton* b = DefaultButtonOf(Form))
      b->Click();
    else
      Form.SetModalResult(mrOk);
    return;
  }
  if (shown->Kind == fkPlain && !Interactive()) {
    if (TButton* b = DefaultButtonOf(Form))
      b->Click();
    else
      Form.SetModalResult(mrOk);
  }
}

void TTerminalBackend::Draw(TShownForm& Shown, bool Final) {
  TCustomForm& form = *Shown.Form;
  Shown.LastDraw = Clock::now();
  Shown.Dirty = false;
  if (Shown.Kind == fkWait) {
    std::string text;
    for (TLabel* l : LabelsTopDown(form)) text += (text.empty() ? "" : " ") + l->Caption();
    if (text.empty()) text = form.Caption();
    text = Safe(text);
    if (!FOutputIsTerminal) {
      if (Shown.Frame++ == 0) Print(text + "\n");
      return;
    }
    std::string line = std::string(1, SpinnerFrames[Shown.Frame++ % 4]) + " " + text;
    if (static_cast<int>(line.size()) >= Columns())
      line = CutAtCharacter(line, static_cast<std::size_t>(Columns() - 1));
    Print("\r" + line + "\033[K");
    FStatusDrawn = true;
    return;
  }
  if (Shown.Kind != fkProgress) return;
  TProgressView view;
  const std::vector<TLabel*> labels = LabelsTopDown(form);
  if (!labels.empty()) view.Title = Safe(StripAccessKey(labels[0]->Caption()));
  if (labels.size() > 1) view.Counts = Safe(labels[1]->Caption());
  ReadByteCounts(view.Counts, view.Received, view.Total);
  // The bar may have been hidden since the form came into view.
  const std::vector<TProgressBar*> bars = ControlsOf<TProgressBar>(form);
  if (TProgressBar* bar = bars.empty() ? nullptr : bars[0]; bar && bar->Max() > bar->Min())
    view.Percent = (bar->Position() - bar->Min()) * 100 / (bar->Max() - bar->Min());
  if (view.Total < 0 && view.Received >= 0) view.Percent = -1;
  view.Seconds = std::chrono::duration<double>(Clock::now() - Shown.Started).count();
  const std::string line = FormatProgressLine(view, FOutputIsTerminal ? Columns() : 0);
  if (FOutputIsTerminal) {
    Print("\r" + line + "\033[K" + (Final ? "\n" : ""));
    FStatusDrawn = !Final;
  } else if (Final) {
    Print(line + "\n");
  }
}

void TTerminalBackend::Tick() {
  if (FAsking > 0 || FForms.empty()) return;
  TShownForm& top = *FForms.back();
  const auto now = Clock::now();
  if ((top.Kind == fkWait || top.Dirty) && now - top.LastDraw >= RedrawEvery) Draw(top, false);
  if (!Interactive()) return;
  TCustomForm* form = top.Form;
  for (int key = FInput->ReadKey(); key != KeyNone && key != KeyClosed; key = FInput->ReadKey()) {
    if (key != KeyEscape && key != KeyInterrupt && !(key == KeyEnter && top.Kind == fkPlain))
      continue;
    // Ctrl-C cancels what runs and every question after it.
    if (key == KeyInterrupt) FInterrupted = true;
    TButton* button = key == KeyEnter ? DefaultButtonOf(*form) : CancelButtonOf(*form);
    if (button) {
      // The form (and top with it) may be gone after the click.
      button->Click();
      return;
    }
    if (key == KeyInterrupt) {
      // Nothing to cancel with: the user wants out of the whole program.
      Interrupt();
      return;
    }
  }
}

void TTerminalBackend::PageText(const std::vector<std::string>& Lines) {
  std::string pager = FSettings.Pager;
  if (pager.empty() && std::getenv("PAGER")) pager = std::getenv("PAGER");
  if (!pager.empty()) {
    FInput->SuspendKeyMode();
    if (std::FILE* p = ::popen(pager.c_str(), "w")) {
      for (const std::string& line : Lines) {
        std::fputs(line.c_str(), p);
        std::fputc('\n', p);
      }
      const int status = ::pclose(p);
      FInput->ResumeKeyMode();
      if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) != 127) return;
    } else {
      FInput->ResumeKeyMode();
    }
  }
  BuiltInPager(Lines);
}

void TTerminalBackend::BuiltInPager(const std::vector<std::string>& Lines) {
  const std::size_t page = static_cast<std::size_t>(std::max(2, Rows() - 2));
  const int width = Columns();
  std::size_t next = 0;
  std::size_t show = page;
  for (;;) {
    for (; show > 0 && next < Lines.size(); --show, ++next) {
      std::string line = Lines[next];
      if (static_cast<int>(line.size()) >= width)
        line = CutAtCharacter(line, static_cast<std::size_t>(width - 1));
      Print(line + "\n");
    }
    const bool end = next >= Lines.size();
    Print(end ? "-- End of read-me: press Enter --"
              : "-- More (" + std::to_string(next * 100 / Lines.size()) +
                    "%): Space next page, Enter next line, q quit --");
    int key = WaitKey();
    while (!(key == ' ' || key == KeyEnter || key == 'q' || key == 'Q' || key == KeyEscape ||
             key == KeyInterrupt || key == KeyClosed))
      key = WaitKey();
    Print("\r\033[K");
    if (key == KeyInterrupt) Interrupt();
    if (end || key == 'q' || key == 'Q' || key == KeyEscape || key == KeyInterrupt ||
        key == KeyClosed)
      return;
    show = key == ' ' ? page : 1;
  }
}
