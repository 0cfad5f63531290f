// A flag of a component set for the length of a scope, and put back as it was on every way
// out, unless a handler freed the component meanwhile.
#pragma once

#include "Host/Events.h"

class TFlagScope {
 public:
  TFlagScope(TAliveGuard& Guard, bool& Flag, bool Value) : FGuard(Guard), FFlag(Flag), FWas(Flag) {
    Flag = Value;
  }
  ~TFlagScope() {
    if (!FGuard.Gone()) FFlag = FWas;
  }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  TAliveGuard& FGuard;
  bool& FFlag;
  bool FWas;
};
