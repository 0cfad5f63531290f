// The common controls: a progress bar.
#pragma once

#include <string>

#include "Host/Controls.h"
#include "Platform/Export.h"

class ORV_API TProgressBar : public TWinControl {
 public:
  // 0 to 100, at 0.
  explicit TProgressBar(TComponent* AOwner);
  std::string ClassName() const override { return "TProgressBar"; }
  const TPublishedClass* Published() const override;
  static const TPublishedClass& PublishedClass();

  int Min() const { return FMin; }
  int Max() const { return FMax; }
  // Moves Position inside the new range when it falls outside; Min above Max raises
  // EInvalidOperation.
  void SetRange(int AMin, int AMax);
  void SetMin(int Value) { SetRange(Value, FMax); }
  void SetMax(int Value) { SetRange(FMin, Value); }
  int Position() const { return FPosition; }
  // Clamped to Min..Max.
  void SetPosition(int Value);
  int TabOrder() const { return FTabOrder; }
  void SetTabOrder(int Value) { FTabOrder = Value; }

 private:
  int FMin = 0;
  int FMax = 100;
  int FPosition = 0;
  int FTabOrder = -1;
};
