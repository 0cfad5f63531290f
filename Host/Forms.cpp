#include "Host/Forms.h"

#include "Host/Font.h"
#include "Host/Published.h"

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  SetVisible(false);
}

TCustomForm::~TCustomForm() = default;

const TPublishedClass* TForm::Published() const {
  return &PublishedClass();
}

const TPublishedClass& TForm::PublishedClass() {
  static const TPublishedClass* Class = [] {
    auto* C = new TPublishedClass("TForm", &TControl::PublishedClass(),
                                  [](TComponent* AOwner) { return new TForm(AOwner); });
    TPublish<TForm>(*C)
        .String("Caption", &TForm::Caption, &TForm::SetCaption)
        .Default("")
        .Object("Font", TFont::PublishedClass(), &TForm::Font)
        .Boolean("Visible", &TForm::Visible, &TForm::SetVisible)
        .Default(false);
    RegisterClass(C);
    return C;
  }();
  return *Class;
}
