#include "Orvane/OrvEditor.h"

#include "Orvane/Orvane.h"

std::string TOrvEditor::GetVerb(int) {
  return "Version 0.81";
}

int TOrvEditor::GetVerbCount() {
  return 1;
}

void Orvane::Register() {
  RegisterComponents(PalettePage, {&TOrvane::PublishedClass()});
  RegisterComponentEditor(&TOrvane::PublishedClass(), EditorClassOf<TOrvEditor>("TOrvEditor"));
}
