#include "Host/StdCtrls.h"

#include "Host/Events.h"
#include "Host/Forms.h"
#include "Host/Published.h"
#include "Host/SysUtils.h"

char AccessKeyOf(const std::string& Caption) {
  for (size_t i = 0; i + 1 < Caption.size(); ++i) {
    if (Caption[i] != '&') continue;
    if (Caption[i + 1] == '&') {
      ++i;
      continue;
    }
    const char c = Caption[i + 1];
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return 0;
}

std::string StripAccessKey(const std::string& Caption) {
  std::string result;
  result.reserve(Caption.size());
  for (size_t i = 0; i < Caption.size(); ++i) {
    if (Caption[i] != '&') {
      result += Caption[i];
    } else if (i + 1 < Caption.size() && Caption[i + 1] == '&') {
      result += '&';
      ++i;
    }
  }
  return result;
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
    TWinControl* top = this;
    while (top->Parent()) top = top->Parent();
    if (auto* form = dynamic_cast<TCustomForm*>(top)) form->SetModalResult(FModalResult);
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
  static const TPublishedClass* publishedClass = [] {
    auto* c = new TPublishedClass("TLabel", &TControl::PublishedClass(),
                                  [](TComponent* AOwner) { return new TLabel(AOwner); });
    TPublish<TLabel>(*c)
        .Enum("Alignment", "TAlignment", {"taLeftJustify", "taRightJustify", "taCenter"},
              &TLabel::Alignment, &TLabel::SetAlignment)
        .Default(taLeftJustify)
        .String("Caption", &TLabel::Caption, &TLabel::SetCaption)
        .Default("");
    RegisterClass(c);
    return c;
  }();
  return *publishedClass;
}

const TPublishedClass* TButton::Published() const {
  return &PublishedClass();
}

const TPublishedClass& TButton::PublishedClass() {
  static const TPublishedClass* publishedClass = [] {
    auto* c = new TPublishedClass("TButton", &TControl::PublishedClass(),
                                  [](TComponent* AOwner) { return new TButton(AOwner); });
    TPublish<TButton>(*c)
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
    RegisterClass(c);
    return c;
  }();
  return *publishedClass;
}

namespace {
// A form file may name these before the application has made one.
[[maybe_unused]] const bool kStdCtrlsRegistered =
    (TLabel::PublishedClass(), TButton::PublishedClass(), true);
}  // namespace
