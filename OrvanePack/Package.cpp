// The package library: every unit linked whole into one shared object, with the resources
// a designer needs and the entry points it calls.
#include "OrvanePack/Package.h"

#include "Host/DesignSession.h"
#include "Host/Resources.h"
#include "HttpProt/HttpCli.h"
#include "Orvane/OrvEditor.h"
#include "OrvanePack/PaletteBitmap.h"
#include "Platform/KeptObjects.h"
#include "WSocket/WSocket.h"
#include "Wait/Wait.h"

#ifndef ORVANEPACK_VERSION
#error "ORVANEPACK_VERSION comes from the build"
#endif

namespace {

// Added when the library is loaded, taken back when it is unloaded. The package's string
// table is the update checker's own, which the Orvane unit inside the library registers
// at its start-up and takes back at its clean-up: one table, so that a translation
// (SetOrvStrings) replaces it and nothing else.
const TResourceModule PackageResources({{"TORVANE", OrvanePaletteBitmap()}}, {});

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
