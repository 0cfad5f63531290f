// A UI back-end that shows forms, boxes and dialogs as real windows on an X display,
// drawn with FLTK.
//
// The application's message loop stays the owner of the thread: the display connection's
// descriptor is watched by the thread's reactor, and when it has something (or at least
// every tenth of a second while a window shows, for the toolkit's own timers) a message to
// the back-end's hidden window lets FLTK handle what is pending without ever waiting in
// FLTK. So every loop that runs the message queue (a modal form, the wait control's modal
// wait, a blocking socket or HTTP call) keeps the windows painted and answering clicks.
//
// What a user does in a window (a click, a key, a menu command) is never acted on inside
// FLTK: it is queued and carried out once FLTK has returned, so a handler may show another
// modal form, run a download or free the form without FLTK on the stack below it. Boxes
// and the save dialog are windows of the back-end's own, run by the message loop as well.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Host/BackendChoice.h"
#include "Host/UIBackend.h"
#include "Platform/Export.h"

class Fl_Window;
class TComponent;

class ORV_API TFltkBackend : public TUIBackend {
 public:
  TFltkBackend();
  ~TFltkBackend() override;
  TFltkBackend(const TFltkBackend&) = delete;
  TFltkBackend& operator=(const TFltkBackend&) = delete;

  // Connects to the display named by $DISPLAY; false (and nothing changed) when there is
  // none or it refuses. Needed before the back-end is installed.
  bool Open();
  bool Opened() const { return FOpened; }

  using TMenuCommand = ::TMenuCommand;
  // Gives Form a menu bar along its top edge, above its client area, from the next time it
  // shows.
  void SetFormMenu(TCustomForm& Form, std::vector<TMenuCommand> Commands);

  void BeginPaint(TControl& Control) override;
  void EndPaint(TControl& Control) override;
  void Rectangle(TCanvas& Canvas, int X1, int Y1, int X2, int Y2) override;
  void FillRect(TCanvas& Canvas, const TRect& Rect) override;
  void TextOut(TCanvas& Canvas, int X, int Y, const std::string& Text) override;
  void Beep(plat::UINT Type) override;
  void ShowMessage(const std::string& Title, const std::string& Text) override;
  TModalResult MessageBox(const TMessageBoxRequest& Request) override;
  bool SaveDialog(TSaveDialogRequest& Request) override;
  void FormShown(TCustomForm& Form) override;
  void FormHidden(TCustomForm& Form) override;
  void ControlChanged(TControl& Control) override;
  void ModalPass(TCustomForm& Form) override;
  int ScreenWidth() override;
  int ScreenHeight() override;
  void ScreenCursorChanged(int Cursor) override;

  // Lets FLTK handle what the display sent, then carries out the user's queued actions.
  // Runs from the message loop; does nothing when called from inside FLTK.
  void Pump();
  // Queues an action of the user's, carried out by the next Pump.
  void Defer(std::function<void()> Action);
  // Whether Form's window is up.
  bool Shows(const TCustomForm* Form);
  // A form or control the back-end shows was destroyed.
  void ComponentDestroyed(TComponent* Component);

  struct TShownForm;
  struct TDialog;

 private:
  TShownForm* Find(const TCustomForm* Form);
  TShownForm* FindOwner(const TControl* Control);
  void Build(TShownForm& Shown);
  void Update(TShownForm& Shown, TControl& Control);
  void ApplyCursor(TShownForm& Shown);
  void RequestPump();
  void UpdateTimer();
  // Runs the message loop until the dialog is answered or the application ends.
  void RunDialog(TDialog& Dialog);
  void PushModal(Fl_Window& Window);
  void PopModal(Fl_Window* Window);

  bool FOpened = false;
  int FFd = -1;
  plat::HWND FWindow = 0;
  bool FPumpQueued = false;
  bool FInFltk = false;
  bool FTimerOn = false;
  int FDialogs = 0;
  int FScreenCursor = 0;
  std::deque<std::function<void()>> FActions;
  std::vector<std::unique_ptr<TShownForm>> FForms;
  // The modal windows, innermost last.
  std::vector<Fl_Window*> FModal;
  bool FRaiseDue = false;
  std::unique_ptr<TComponent> FWatch;
  struct TMenu {
    TCustomForm* Form;
    std::vector<TMenuCommand> Commands;
  };
  std::vector<TMenu> FMenus;
  // The control whose paint is being recorded, and its recording.
  TControl* FPainting = nullptr;
};

// The windowed back-end when it is the one installed by UseBestBackend, else nullptr.
ORV_API TFltkBackend* InstalledFltkBackend();
