// The seam between the visual classes and whatever shows them to the user.
//
// Controls, canvases, forms, boxes, dialogs and the application object never draw, beep
// or talk to the user themselves: they hand each request to the installed back-end.
// Back-ends are not owned by the framework; the quiet default (nothing drawn, messages to
// stderr, every question answered with its default button, every dialog cancelled) is in
// place whenever no other one is installed. Used from the user-interface thread.
//
// Who runs the loop: the framework does. A modal form runs the application's message
// loop itself until its ModalResult is set; the back-end is told when the form comes into
// view and goes, when a control on it changes, and once per pass of the loop before the
// loop waits for the next message. A back-end with input of its own (a terminal, a window
// system connection) gets it to the loop through the message queue, and answers the
// user's actions by calling the controls: TButton::Click, TCustomForm::SetModalResult.
// Message boxes and the save dialog are answered synchronously by the back-end; one that
// needs the loop while it asks runs TApplication::HandleMessage itself.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Export.h"
#include "Platform/Messages.h"

class TCanvas;
class TControl;
class TCustomForm;
struct TRect;

// The outcome of a modal form or box; 0 while it runs.
using TModalResult = std::int32_t;
inline constexpr TModalResult mrNone = 0;
inline constexpr TModalResult mrOk = 1;
inline constexpr TModalResult mrCancel = 2;
inline constexpr TModalResult mrAbort = 3;
inline constexpr TModalResult mrRetry = 4;
inline constexpr TModalResult mrIgnore = 5;
inline constexpr TModalResult mrYes = 6;
inline constexpr TModalResult mrNo = 7;

// The picture beside a box's text.
enum TMessageIcon : std::uint8_t { miNone, miError, miQuestion, miExclamation, miInformation };

// One message box as the back-end is to show it.
struct ORV_API TMessageBoxRequest {
  std::string Caption;
  // A carriage return (byte 13), a CR LF pair or a line feed each end a line.
  std::string Text;
  TMessageIcon Icon = miNone;
  // The buttons from left to right, each named by the result it gives (mrOk "OK",
  // mrYes "Yes", ...). Never empty.
  std::vector<TModalResult> Buttons{mrOk};
  // Index into Buttons of the one that Enter presses.
  int DefaultButton = 0;
  // What closing the box without a button (Escape, the close box) answers; mrNone when
  // the box cannot be closed that way.
  TModalResult EscapeResult = mrOk;
  // Captions of the buttons, in the order of Buttons, for a question whose answers are
  // no standard ones ("&Skip this version"); a missing or empty one is the standard.
  std::vector<std::string> Captions;

  // The caption of Buttons[Index], with its "&" access key.
  std::string ButtonCaption(std::size_t Index) const;
};

// The standard caption of a box button ("OK", "Cancel", "&Yes", ...).
ORV_API std::string MessageButtonCaption(TModalResult Button);

// Options of the file dialogs, as bits.
enum TOpenOption : std::uint32_t {
  ofReadOnly = 1u << 0,
  ofOverwritePrompt = 1u << 1,
  ofHideReadOnly = 1u << 2,
  ofNoChangeDir = 1u << 3,
  ofPathMustExist = 1u << 11,
  ofFileMustExist = 1u << 12,
};
using TOpenOptions = std::uint32_t;

// One save-file dialog. The back-end shows Filters, starts in InitialDir (the current
// folder when empty) with FileName proposed and FilterIndex selected, and on success puts
// the user's choice back into FileName (a full path) and FilterIndex. The questions the
// options call for (overwrite, folder must exist) are asked by the framework afterwards,
// through message boxes; a back-end may ask them itself first.
struct ORV_API TSaveDialogRequest {
  std::string Title;
  // Description and mask(s) ("*.EXE", several separated by ';'), in order.
  std::vector<std::pair<std::string, std::string>> Filters;
  int FilterIndex = 1;  // 1-based
  std::string InitialDir;
  std::string FileName;
  TOpenOptions Options = 0;
};

class ORV_API TUIBackend {
 public:
  virtual ~TUIBackend() = default;

  // Bracket one repaint of a control; every drawing call in between belongs to it.
  virtual void BeginPaint(TControl& Control) = 0;
  virtual void EndPaint(TControl& Control) = 0;

  // Coordinates are relative to the canvas's control; pen, brush and font are read from
  // the canvas at the time of the call.
  virtual void Rectangle(TCanvas& Canvas, int X1, int Y1, int X2, int Y2) = 0;
  virtual void FillRect(TCanvas& Canvas, const TRect& Rect) = 0;
  virtual void TextOut(TCanvas& Canvas, int X, int Y, const std::string& Text) = 0;

  // Type is the sound's kind (0 = the default sound).
  virtual void Beep(plat::UINT Type) = 0;
  // Tells the user something that needs no answer (an error nobody else handled).
  virtual void ShowMessage(const std::string& Title, const std::string& Text) = 0;

  // Shows the box modally and answers the button pressed (one of Request.Buttons) or
  // Request.EscapeResult.
  virtual TModalResult MessageBox(const TMessageBoxRequest& Request) = 0;
  // Runs the save dialog; false when the user cancelled (Request is then left alone).
  virtual bool SaveDialog(TSaveDialogRequest& Request) = 0;

  // A form came into view (Left and Top already placed, e.g. centred on the screen), or
  // went. Its controls are its Controls(); their kinds, texts and bounds are read from
  // them. FormShown comes before the form's modal loop starts, FormHidden after it ended
  // and before the form may be freed.
  virtual void FormShown(TCustomForm& Form) = 0;
  virtual void FormHidden(TCustomForm& Form) = 0;
  // A control of a showing form changed what it shows (caption, lines, bar position,
  // bounds, cursor).
  virtual void ControlChanged(TControl& Control) = 0;
  // Once per pass of Form's modal loop, before the loop waits for the next message. The
  // back-end may act for the user here (click a button, set the form's ModalResult).
  virtual void ModalPass(TCustomForm& Form) = 0;

  // The screen's size in pixels.
  virtual int ScreenWidth() = 0;
  virtual int ScreenHeight() = 0;
  // The screen-wide cursor changed (TScreen::SetCursor; crDefault lets each control's
  // own cursor show).
  virtual void ScreenCursorChanged(int Cursor) = 0;
};

// The installed back-end, or the quiet default.
ORV_API TUIBackend& UIBackend();
// Installs Backend (not owned; nullptr goes back to the default) and answers the one that
// was installed before.
ORV_API TUIBackend* SetUIBackend(TUIBackend* Backend);

// Installs a back-end for the lifetime of the scope and puts the previous one back.
class ORV_API TUIBackendScope {
 public:
  explicit TUIBackendScope(TUIBackend& Backend) : FPrevious(SetUIBackend(&Backend)) {}
  ~TUIBackendScope() { SetUIBackend(FPrevious); }
  TUIBackendScope(const TUIBackendScope&) = delete;
  TUIBackendScope& operator=(const TUIBackendScope&) = delete;

 private:
  TUIBackend* FPrevious;
};

// Sounds a beep of the given kind through the back-end (0 = the default sound).
ORV_API void MessageBeep(plat::UINT uType);

// Splits a box's text into its lines at CR LF, CR or LF.
ORV_API std::vector<std::string> MessageLines(const std::string& Text);
