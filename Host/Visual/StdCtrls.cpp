#include "Host/StdCtrls.h"

#include "Host/Events.h"
#include "Host/Forms.h"
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
