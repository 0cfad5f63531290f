// The package library: every unit linked whole into one shared object, with the resources
// a designer needs and the entry points it calls.
#include "OrvanePack/Package.h"

#include "Host/DesignSession.h"
#include "Host/Resources.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/OrvEditor.h"
#include "Orvane/OrvStrings.h"
#include "OrvanePack/PaletteBitmap.h"
#include "Platform/KeptObjects.h"
#include "WSocket/WSocket.h"
#include "Wait/Wait.h"

#ifndef ORVANEPACK_VERSION
#error "ORVANEPACK_VERSION comes from the build"
#endif

namespace {

TStringTable PackageStrings() {
  TStringTable table;
  for (const auto& [id, text] : DefaultOrvStrings())
    table.emplace_back(static_cast<std::uint16_t>(id), text);
  return table;
}

// Added when the library is loaded, taken back when it is unloaded.
const TResourceModule PackageResources({{"TORVANE", OrvanePaletteBitmap()}}, PackageStrings());

}  // namespace

const char* OrvanePackVersion() {
  return ORVANEPACK_VERSION;
}

void OrvanePackRegister() {
  Orvane::Register();
  // The lower components are exported for applications to use; the designer shows them
  // on the same page.
  RegisterComponents(Orvane::PalettePage, {&THttpCli::PublishedClass(), &TWSocket::PublishedClass(),
                                           &TWait::PublishedClass()});
}

void OrvanePackUnregister() {
  UnregisterDesignerClasses();
  // The library is about to go with the threads that used it: what the units keep for the
  // process goes with it.
  plat::FreeKeptObjectsAtUnload();
}

TDesignSession* OrvanePackNewDesignSession() {
  return new TDesignSession();
}
