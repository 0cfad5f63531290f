#include "Host/ComCtrls.h"

#include <algorithm>

#include "Host/Forms.h"

TProgressBar::TProgressBar(TComponent* AOwner) : TWinControl(AOwner) {}

void TProgressBar::SetRange(int AMin, int AMax) {
  if (AMin > AMax)
    throw EInvalidOperation(Format("Progress bar range %d to %d is empty", AMin, AMax));
  FMin = AMin;
  FMax = AMax;
  FPosition = std::clamp(FPosition, FMin, FMax);
  Invalidate();
  NotifyChanged();
}

void TProgressBar::SetPosition(int Value) {
  Value = std::clamp(Value, FMin, FMax);
  if (Value == FPosition) return;
  FPosition = Value;
  Invalidate();
  NotifyChanged();
}
