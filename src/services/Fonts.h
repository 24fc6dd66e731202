#pragma once
// The `fonts` member: the installed fonts as fontconfig knows them, and
// line heights as Pango lays text out.
#include "bridge/ServiceObject.h"

#include <string>

namespace corvane {

class Fonts : public ServiceObject {
 public:
  const ServiceClass& serviceClass() const override;

  // PostScript names of every installed font, sorted, each once.
  nlohmann::json availableFonts() const;
  // Family names (each font's first, unlocalised name), sorted, each once.
  nlohmann::json availableFontFamilies() const;
  // [PostScript name, style name, weight (0-15, 5 regular, 9 bold), traits]
  // for each face of the family, lightest first; [] for an unknown family.
  nlohmann::json availableMembersOfFontFamily(const std::string& family) const;
  // The default line height for the font (a PostScript or family name) at
  // `size` points; 0 when no installed font has that name.
  double defaultLineHeightForFont(const std::string& name, double size) const;

  // Trait bits of the members' fourth entry.
  static constexpr int kItalic = 0x1, kBold = 0x2, kExpanded = 0x20, kCondensed = 0x40, kFixedPitch = 0x400;
  // fontconfig's weight on the 0-15 scale pages use.
  static int weightOf(int fontconfigWeight);
};

}  // namespace corvane
