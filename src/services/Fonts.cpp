#include "services/Fonts.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <vector>

namespace corvane {
namespace {

// Runs FcFontList for `pattern` (owned here) with the given properties.
template <class Fn>
void listFonts(FcPattern* pattern, std::initializer_list<const char*> properties, Fn each) {
  FcObjectSet* os = FcObjectSetCreate();
  for (const char* p : properties) FcObjectSetAdd(os, p);
  if (FcFontSet* set = FcFontList(nullptr, pattern, os)) {
    for (int i = 0; i < set->nfont; ++i) each(set->fonts[i]);
    FcFontSetDestroy(set);
  }
  FcObjectSetDestroy(os);
  FcPatternDestroy(pattern);
}

std::string stringOf(FcPattern* p, const char* property) {
  FcChar8* value = nullptr;
  return FcPatternGetString(p, property, 0, &value) == FcResultMatch && value ? reinterpret_cast<char*>(value) : "";
}

int intOf(FcPattern* p, const char* property, int fallback) {
  int value = fallback;
  return FcPatternGetInteger(p, property, 0, &value) == FcResultMatch ? value : fallback;
}

nlohmann::json sortedOnce(std::set<std::string> names) {
  nlohmann::json out = nlohmann::json::array();
  for (const auto& n : names)
    if (!n.empty()) out.push_back(n);
  return out;
}

}  // namespace

int Fonts::weightOf(int w) {
  // fontconfig weight -> the 0-15 scale: the lightest step not below it.
  static const std::pair<int, int> steps[] = {{FC_WEIGHT_THIN, 2},     {FC_WEIGHT_EXTRALIGHT, 3},
                                              {FC_WEIGHT_LIGHT, 3},    {FC_WEIGHT_DEMILIGHT, 4},
                                              {FC_WEIGHT_BOOK, 4},     {FC_WEIGHT_REGULAR, 5},
                                              {FC_WEIGHT_MEDIUM, 6},   {FC_WEIGHT_DEMIBOLD, 8},
                                              {FC_WEIGHT_BOLD, 9},     {FC_WEIGHT_EXTRABOLD, 10},
                                              {FC_WEIGHT_BLACK, 12},   {FC_WEIGHT_EXTRABLACK, 14}};
  for (const auto& [fc, scale] : steps)
    if (w <= fc) return scale;
  return 15;
}

nlohmann::json Fonts::availableFonts() const {
  std::set<std::string> names;
  listFonts(FcPatternCreate(), {FC_POSTSCRIPT_NAME}, [&](FcPattern* p) { names.insert(stringOf(p, FC_POSTSCRIPT_NAME)); });
  return sortedOnce(std::move(names));
}

nlohmann::json Fonts::availableFontFamilies() const {
  std::set<std::string> names;
  listFonts(FcPatternCreate(), {FC_FAMILY}, [&](FcPattern* p) { names.insert(stringOf(p, FC_FAMILY)); });
  return sortedOnce(std::move(names));
}

nlohmann::json Fonts::availableMembersOfFontFamily(const std::string& family) const {
  using Member = std::tuple<int, int, std::string, std::string, int>;  // weight, slant, ps name, style, traits
  std::vector<Member> members;
  std::set<std::string> seen;
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  listFonts(pattern, {FC_POSTSCRIPT_NAME, FC_STYLE, FC_WEIGHT, FC_SLANT, FC_WIDTH, FC_SPACING}, [&](FcPattern* p) {
    const std::string ps = stringOf(p, FC_POSTSCRIPT_NAME);
    if (!seen.insert(ps).second) return;
    const int weight = intOf(p, FC_WEIGHT, FC_WEIGHT_REGULAR);
    const int slant = intOf(p, FC_SLANT, FC_SLANT_ROMAN);
    const int width = intOf(p, FC_WIDTH, FC_WIDTH_NORMAL);
    int traits = 0;
    if (slant != FC_SLANT_ROMAN) traits |= kItalic;
    if (weight >= FC_WEIGHT_BOLD) traits |= kBold;
    if (width < FC_WIDTH_NORMAL) traits |= kCondensed;
    if (width > FC_WIDTH_NORMAL) traits |= kExpanded;
    if (intOf(p, FC_SPACING, FC_PROPORTIONAL) >= FC_MONO) traits |= kFixedPitch;
    members.emplace_back(weight, slant, ps, stringOf(p, FC_STYLE), traits);
  });
  std::sort(members.begin(), members.end());
  nlohmann::json out = nlohmann::json::array();
  for (const auto& [weight, slant, ps, style, traits] : members)
    out.push_back({ps, style, weightOf(weight), traits});
  return out;
}

double Fonts::defaultLineHeightForFont(const std::string& name, double size) const {
  if (name.empty() || !(size > 0)) return 0;
  // The installed face of that PostScript name, else the family's regular one.
  FcPattern* found = nullptr;
  for (const bool byFamily : {false, true}) {
    const char* property = byFamily ? FC_FAMILY : FC_POSTSCRIPT_NAME;
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, property, reinterpret_cast<const FcChar8*>(name.c_str()));
    listFonts(pattern, {FC_FAMILY, FC_WEIGHT, FC_SLANT, FC_WIDTH}, [&](FcPattern* p) {
      if (!found || (byFamily && intOf(p, FC_WEIGHT, 0) == FC_WEIGHT_REGULAR &&
                     intOf(p, FC_SLANT, 0) == FC_SLANT_ROMAN)) {
        if (found) FcPatternDestroy(found);
        found = FcPatternDuplicate(p);
      }
    });
    if (found) break;
  }
  if (!found) return 0;

  PangoFontDescription* desc = pango_font_description_new();
  pango_font_description_set_family(desc, stringOf(found, FC_FAMILY).c_str());
  pango_font_description_set_weight(desc, static_cast<PangoWeight>(FcWeightToOpenType(intOf(found, FC_WEIGHT, FC_WEIGHT_REGULAR))));
  const int slant = intOf(found, FC_SLANT, FC_SLANT_ROMAN);
  pango_font_description_set_style(desc, slant == FC_SLANT_ITALIC    ? PANGO_STYLE_ITALIC
                                          : slant == FC_SLANT_OBLIQUE ? PANGO_STYLE_OBLIQUE
                                                                      : PANGO_STYLE_NORMAL);
  FcPatternDestroy(found);
  // One unit per point: sizes are points on every screen.
  pango_font_description_set_absolute_size(desc, size * PANGO_SCALE);
  PangoFontMap* map = pango_cairo_font_map_new();
  PangoContext* context = pango_font_map_create_context(map);
  double height = 0;
  if (PangoFont* font = pango_font_map_load_font(map, context, desc)) {
    PangoFontMetrics* metrics = pango_font_get_metrics(font, nullptr);
    int h = pango_font_metrics_get_height(metrics);
    if (h <= 0) h = pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics);
    height = static_cast<double>(h) / PANGO_SCALE;
    pango_font_metrics_unref(metrics);
    g_object_unref(font);
  }
  g_object_unref(context);
  g_object_unref(map);
  pango_font_description_free(desc);
  return height;
}

const ServiceClass& Fonts::serviceClass() const {
  static const ServiceClass cls =
      ServiceClass::Builder<Fonts>("Fonts")
          .method("availableFonts", &Fonts::availableFonts)
          .method("availableFontFamilies", &Fonts::availableFontFamilies)
          .method("availableMembersOfFontFamily:", &Fonts::availableMembersOfFontFamily)
          .method("defaultLineHeightForFont:ofSize:", &Fonts::defaultLineHeightForFont)
          .scriptNames({{"availableMembersOfFontFamily:", "availableMembersOfFontFamily"},
                        {"defaultLineHeightForFont:ofSize:", "defaultLineHeightForFont"}})
          .excludeKeys([](const std::string&) { return false; })
          .build();
  return cls;
}

}  // namespace corvane
