#include "Host/StdCtrls.h"

#include "Host/Events.h"
#include "Host/Forms.h"
#include "Host/Published.h"
#include "Host/SysUtils.h"

char AccessKeyOf(const std::string& Caption) {
  for (size_t I = 0; I + 1 < Caption.size(); ++I) {
    if (Caption[I] != '&') continue;
    if (Caption[I + 1] == '&') {
      ++I;
      continue;
    }
    const char C = Caption[I + 1];
    return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C;
  }
  return 0;
}

std::string StripAccessKey(const std::string& Caption) {
  std::string Result;
  Result.reserve(Caption.size());
  for (size_t I = 0; I < Caption.size(); ++I) {
    if (Caption[I] != '&') {
      Result += Caption[I];
    } else if (I + 1 < Caption.size() && Caption[I + 1] == '&') {
      Result += '&';
      ++I;
    }
  }
  return Result;
}

// ---------------------------------------------------------------------------------------
// TLabel

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner) {}

void TLabel::SetAlignment(TAlignment Value) {
  if (Value == FAlignment) return;
  FAlignment = Value;
  Invalidate();
  NotifyChanged();
}

// ---------------------------------------------------------------------------------------
// TButton

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner) {}

TButton::~TButton() = default;

void TButton::Click() {
  if (FModalResult != mrNone) {
    TWinControl* Top = this;
    while (Top->Parent()) Top = Top->Parent();
    if (auto* Form = dynamic_cast<TCustomForm*>(Top)) Form->SetModalResult(FModalResult);
  }
  TriggerClick();
}

void TButton::TriggerClick() {
  (void)FireEvent(*this, OnClick, this);
}

// ---------------------------------------------------------------------------------------
// TMemo

void TMemoLines::Insert(int Index, const std::string& S) {
  TStringList::Insert(Index, S);
  FMemo.LinesChanged();
}

void TMemoLines::Delete(int Index) {
  TStringList::Delete(Index);
  FMemo.LinesChanged();
}

void TMemoLines::Clear() {
  TStringList::Clear();
  FMemo.LinesChanged();
}

TMemo::TMemo(TComponent* AOwner)
    : TWinControl(AOwner), FLines(std::make_unique<TMemoLines>(*this)) {}

TMemo::~TMemo() = default;

void TMemo::SetScrollBars(TScrollStyle Value) {
  if (Value == FScrollBars) return;
  FScrollBars = Value;
  NotifyChanged();
}

const TPublishedClass* TLabel::Published() const {
  return &PublishedClass();
}

const TPublishedClass& TLabel::PublishedClass() {
  static const TPublishedClass* Class = [] {
    auto* C = new TPublishedClass("TLabel", &TControl::PublishedClass(),
                                  [](TComponent* AOwner) { return new TLabel(AOwner); });
    TPublish<TLabel>(*C)
        .Enum("Alignment", "TAlignment", {"taLeftJustify", "taRightJustify", "taCenter"},
              &TLabel::Alignment, &TLabel::SetAlignment)
        .Default(taLeftJustify)
        .String("Caption", &TLabel::Caption, &TLabel::SetCaption)
        .Default("");
    RegisterClass(C);
    return C;
  }();
  return *Class;
}

const TPublishedClass* TButton::Published() const {
  return &PublishedClass();
}

const TPublishedClass& TButton::PublishedClass() {
  static const TPublishedClass* Class = [] {
    auto* C = new TPublishedClass("TButton", &TControl::PublishedClass(),
                                  [](TComponent* AOwner) { return new TButton(AOwner); });
    TPublish<TButton>(*C)
        .Boolean("Cancel", &TButton::Cancel, &TButton::SetCancel)
        .Default(false)
        .String("Caption", &TButton::Caption, &TButton::SetCaption)
        .Default("")
        .Boolean("Default", &TButton::Default, &TButton::SetDefault)
        .Default(false)
        .Integer("ModalResult", &TButton::ModalResult, &TButton::SetModalResult)
        .Default(mrNone)
        .Integer("TabOrder", &TButton::TabOrder, &TButton::SetTabOrder)
        .Default(-1)
        .Event("OnClick", "TNotifyEvent");
    RegisterClass(C);
    return C;
  }();
  return *Class;
}

namespace {
// A form file may name these before the application has made one.
[[maybe_unused]] const bool kRegistered =
    (TLabel::PublishedClass(), TButton::PublishedClass(), true);
}  // namespace
