// Forms: the top-level windowed controls that hold an application's other controls, and
// their modal run.
#pragma once

#include <cstdint>
#include <string>

#include "Host/Controls.h"
#include "Host/EnumSet.h"
#include "Platform/Export.h"

class TButton;

enum TPosition : std::uint8_t { poDesigned, poDefault, poScreenCenter };
enum TFormBorderStyle : std::uint8_t {
  bsNone,
  bsSingle,
  bsSizeable,
  bsDialog,
  bsToolWindow,
  bsSizeToolWin
};
enum TBorderIcon : std::uint8_t { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = TEnumSet<TBorderIcon, std::uint8_t>;

class ORV_API TCustomForm : public TWinControl {
 public:
  // A form starts hidden; its font is the one its controls take by default.
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;
  std::string ClassName() const override { return "TCustomForm"; }

  // Shows the form and runs the application's message loop until ModalResult is set (by
  // a button, a handler, Close, or a quit request, which ends it with mrCancel and stays
  // visible to the loops outside), hides it and answers the result. The form may be freed
  // by a handler meanwhile; the result set last is still answered. Raises EInvalidOperation
  // when the form is already showing.
  virtual TModalResult ShowModal();
  bool Modal() const { return FModal; }
  // Set to non-zero to end the form's modal run with that outcome.
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult Value) { FModalResult = Value; }
  // Ends a modal run with mrCancel; hides a form that is not modal.
  void Close();
  // Frees the form once the message that is being handled (and every one queued before)
  // has been handled: safe from inside the form's own handlers.
  void Release();

  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition Value) { FPosition = Value; }
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle Value) { FBorderStyle = Value; }
  TBorderIcons BorderIcons() const { return FBorderIcons; }
  void SetBorderIcons(TBorderIcons Value) { FBorderIcons = Value; }
  // The frame belongs to the window system, so the client area is the form's whole size.
  int ClientWidth() const { return Width(); }
  int ClientHeight() const { return Height(); }
  void SetClientWidth(int Value) { SetWidth(Value); }
  void SetClientHeight(int Value) { SetHeight(Value); }

  // The buttons that Enter and Escape press: the first visible one, in the order they
  // were placed, with Default (Cancel) set; nullptr when there is none.
  TButton* DefaultButton() const;
  TButton* CancelButton() const;

 protected:
  void WndProc(TMessage& Message) override;

 private:
  TModalResult FModalResult = mrNone;
  // Where a running ShowModal keeps the result: the form writes its last one there when a
  // handler frees it.
  TModalResult* FModalResultSink = nullptr;
  bool FModal = false;
  bool FReleasePosted = false;
  TPosition FPosition = poDesigned;
  TFormBorderStyle FBorderStyle = bsSizeable;
  TBorderIcons FBorderIcons{biSystemMenu, biMinimize, biMaximize};
};

class ORV_API TForm : public TCustomForm {
 public:
  using TCustomForm::TCustomForm;
  std::string ClassName() const override { return "TForm"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();
};

// A form or control used in a way its state does not allow.
class ORV_API EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};
