#include "Host/Forms.h"

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  SetVisible(false);
}

TCustomForm::~TCustomForm() = default;
