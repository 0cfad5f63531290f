// Design-time support of TOrvane: its palette page and its component editor, whose one
// context menu entry shows the component's version.
#pragma once

#include <string>

#include "Host/Designer.h"
#include "Platform/Export.h"

class ORV_API TOrvEditor : public TDefaultEditor {
 public:
  using TDefaultEditor::TDefaultEditor;
  std::string ClassName() const override { return "TOrvEditor"; }
  // "Version 0.81" whatever the index: the entry only informs.
  std::string GetVerb(int Index) override;
  int GetVerbCount() override;
};

namespace Orvane {
// Kept in a namespace of its own: every unit with components may export a Register.
inline constexpr char PalettePage[] = "Internet";
// Puts TOrvane on the palette page "Internet" and gives it TOrvEditor.
ORV_API void Register();
}  // namespace Orvane
