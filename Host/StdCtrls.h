// The standard controls: a label, a push button and a multi-line text box.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Host/Controls.h"
#include "Host/StringList.h"
#include "Platform/Export.h"

enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };

// The character that "&" marks in a caption, in upper case ("&Cancel" gives 'C'); 0 when
// there is none. "&&" stands for an ampersand and marks nothing.
ORV_API char AccessKeyOf(const std::string& Caption);
// The caption as shown: every marking "&" removed, "&&" turned into "&".
ORV_API std::string StripAccessKey(const std::string& Caption);

// Text that is drawn, not edited; it has no window of its own.
class ORV_API TLabel : public TControl {
 public:
  explicit TLabel(TComponent* AOwner);
  std::string ClassName() const override { return "TLabel"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();

  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value);

 private:
  TAlignment FAlignment = taLeftJustify;
};

class ORV_API TButton : public TWinControl {
 public:
  explicit TButton(TComponent* AOwner);
  ~TButton() override;
  std::string ClassName() const override { return "TButton"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();

  // Enter on the form presses a Default button, Escape a Cancel button.
  bool Default() const { return FDefault; }
  void SetDefault(bool Value) { FDefault = Value; }
  bool Cancel() const { return FCancel; }
  void SetCancel(bool Value) { FCancel = Value; }
  // Given to the parent form as its ModalResult when the button is pressed (mrNone: none).
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult Value) { FModalResult = Value; }
  int TabOrder() const { return FTabOrder; }
  void SetTabOrder(int Value) { FTabOrder = Value; }

  // Presses the button: the form takes ModalResult, then OnClick runs. Either may free
  // the form and the button.
  virtual void Click();

  TNotifyEvent OnClick;

 protected:
  virtual void TriggerClick();

 private:
  bool FDefault = false;
  bool FCancel = false;
  TModalResult FModalResult = mrNone;
  int FTabOrder = -1;
};

enum TScrollStyle : std::uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };

class TMemo;

// A memo's lines: every change through the list tells the memo.
class ORV_API TMemoLines : public TStringList {
 public:
  explicit TMemoLines(TMemo& Memo) : FMemo(Memo) {}
  std::string ClassName() const override { return "TMemoLines"; }
  void Insert(int Index, const std::string& S) override;
  void Delete(int Index) override;
  void Clear() override;

 private:
  TMemo& FMemo;
};

// A multi-line text box. Lines hold its text; editing and wrapping are the back-end's.
class ORV_API TMemo : public TWinControl {
 public:
  explicit TMemo(TComponent* AOwner);
  ~TMemo() override;
  std::string ClassName() const override { return "TMemo"; }

  TStrings* Lines() const { return FLines.get(); }
  void SetLines(const TStrings* Value) { FLines->Assign(Value); }
  TScrollStyle ScrollBars() const { return FScrollBars; }
  void SetScrollBars(TScrollStyle Value);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool Value) { FWordWrap = Value; }

 private:
  friend class TMemoLines;
  void LinesChanged() { NotifyChanged(); }

  std::unique_ptr<TMemoLines> FLines;
  TScrollStyle FScrollBars = ssNone;
  bool FReadOnly = false;
  bool FWordWrap = true;
};
