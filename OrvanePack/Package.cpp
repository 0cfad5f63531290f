// The package library: every unit linked whole into one shared object, with the resources
// a designer needs and the entry points it calls.
#include "OrvanePack/Package.h"

#include "Host/DesignSession.h"
#include "Host/Resources.h"
#include "OrvanePack/PaletteBitmap.h"
#include "Orvane/OrvEditor.h"
#include "WSocket/WSocket.h"
#include "Wait/Wait.h"

#ifndef ORVANEPACK_VERSION
#error "ORVANEPACK_VERSION comes from the build"
#endif

namespace {

// Added when the library is loaded, taken back when it is unloaded.
const TResourceModule PackageResources({{"TORVANE", OrvanePaletteBitmap()}}, {});

}  // namespace

const char* OrvanePackVersion() {
  return ORVANEPACK_VERSION;
}

void OrvanePackRegister() {
  Orvane::Register();
  // The lower components are exported for applications to use; the designer shows them
  // on the same page. (The HTTP client joins here once it publishes its properties.)
  RegisterComponents(Orvane::PalettePage, {&TWSocket::PublishedClass(), &TWait::PublishedClass()});
}

void OrvanePackUnregister() {
  UnregisterDesignerClasses();
}

TDesignSession* OrvanePackNewDesignSession() {
  return new TDesignSession();
}
