#include "app/WindowStyle.h"

#include "app/Bundle.h"
#include "app/JsonText.h"

#include <cstdio>
#include <stdexcept>

namespace corvane {
namespace {

// Booleans as the configuration writes them: JSON booleans, numbers, or
// text starting with Y/y/T/t/1-9. Anything else is a type error that names
// the key.
bool flag(const nlohmann::json& v, const char* key) {
  if (v.is_boolean() || v.is_number() || v.is_string()) return jsonBoolValue(v);
  throw std::invalid_argument(std::string("\"") + key + "\" is not a boolean: " + jsonSnippet(v));
}

std::optional<bool> flagAt(const nlohmann::json& info, const char* key) {
  auto it = info.find(key);
  if (it == info.end() || it->is_null()) return std::nullopt;
  return flag(*it, key);
}

long tagOf(const nlohmann::json& entry) {
  auto it = entry.find("tag");
  if (it == entry.end() || it->is_null()) return -9999;
  if (!it->is_number()) throw std::invalid_argument("menu \"tag\" is not a number: " + jsonSnippet(*it));
  return it->get<long>();
}

std::optional<SizePair> sizeAt(const nlohmann::json& info, const char* key) {
  auto it = info.find(key);
  if (it == info.end() || it->is_null()) return std::nullopt;
  try {
    return sizePair(*it);
  } catch (const std::invalid_argument&) {
    throw std::invalid_argument(std::string("\"") + key + "\" is not [width, height]: " + jsonSnippet(*it));
  }
}

}  // namespace

SizePair sizePair(const nlohmann::json& value) {
  if (value.is_array() && value.size() >= 2 && value[0].is_number() && value[1].is_number())
    return {value[0].get<double>(), value[1].get<double>()};
  if (value.is_string()) {
    double w = 0, h = 0;
    if (std::sscanf(value.get_ref<const std::string&>().c_str(), " {%lf ,%lf }", &w, &h) == 2)
      return {w, h};
  }
  throw std::invalid_argument("expected [width, height], got " + jsonSnippet(value));
}

WindowStylePlan windowStylePlan(const nlohmann::json& info) {
  WindowStylePlan p;
  if (!info.is_object()) return p;
  auto hideButton = [&](WindowButton b) { p.buttons.emplace_back(b, true); };
  if (auto v = flagAt(info, "hasTitleBar")) p.titled = *v;
  if (auto v = flagAt(info, "hasShadow")) p.shadow = *v;
  if (auto v = flagAt(info, "hasTextured")) p.textured = *v;
  if (auto v = flagAt(info, "hasUnifiedTitleAndToolbarWindow")) p.unifiedTitleAndToolbar = *v;
  if (auto v = flagAt(info, "hasCloseControls")) {
    p.closable = *v;
    if (!*v) hideButton(WindowButton::Close);
  }
  if (auto v = flagAt(info, "hasMinimizeControls")) {
    p.miniaturizable = *v;
    if (!*v) hideButton(WindowButton::Miniaturize);
  }
  if (auto v = flagAt(info, "hasResizeControls")) {
    p.resizable = *v;
    if (!*v) hideButton(WindowButton::Close);  // the close button, as the original did
  }
  if (auto v = flagAt(info, "hasToolbarButtonControls")) p.closable = *v;

  const std::pair<const char*, WindowButton> buttonKeys[] = {
      {"hideCloseButton", WindowButton::Close},
      {"hideMiniaturizeButton", WindowButton::Miniaturize},
      {"hideZoomButton", WindowButton::Zoom},
      {"hideToolbarButton", WindowButton::Toolbar},
      {"hideDocumentIconButton", WindowButton::DocumentIcon},
      {"hideDocumentVersionsButton", WindowButton::DocumentVersions},
      {"hideFullScreenButton", WindowButton::FullScreen},
  };
  for (const auto& [key, button] : buttonKeys)
    if (auto v = flagAt(info, key)) p.buttons.emplace_back(button, *v);

  p.contentAspectRatio = sizeAt(info, "contentAspectRatio");
  return p;
}

WindowSizePlan windowSizePlan(const nlohmann::json& info) {
  WindowSizePlan p;
  if (!info.is_object()) return p;
  p.autoOffset = flagAt(info, "autoOffset").value_or(false);
  p.maxSize = sizeAt(info, "maxSize");
  p.minSize = sizeAt(info, "minSize");
  p.size = sizeAt(info, "size");
  return p;
}

MenuPlan menuPlan(const nlohmann::json& info,
                  const std::function<std::string(const std::string&)>& expand) {
  MenuPlan p;
  if (!info.is_object()) return p;
  if (auto it = info.find("menuHideList"); it != info.end() && it->is_array()) {
    for (const auto& e : *it) {
      if (!e.is_object()) continue;
      MenuHideOp op;
      op.tag = tagOf(e);
      if (auto h = e.find("hide"); h != e.end() && !h->is_null()) op.hide = flag(*h, "hide");
      p.hide.push_back(op);
    }
  }
  if (auto it = info.find("menuTitleList"); it != info.end() && it->is_array()) {
    for (const auto& e : *it) {
      if (!e.is_object()) continue;
      MenuTitleOp op;
      op.tag = tagOf(e);
      if (auto t = e.find("title"); t != e.end() && t->is_string()) op.title = expand(t->get<std::string>());
      if (auto m = e.find("method"); m != e.end() && m->is_string()) op.method = m->get<std::string>();
      p.titles.push_back(op);
    }
  }
  return p;
}

std::string menuTitle(const std::string& method, const std::string& title, const std::string& old,
                      const std::function<std::string(const std::string&)>& expand) {
  if (method == "rp") return title;
  if (method == "p+") return title + old;
  if (method == "+s") return old + title;
  if (method == "re") return expand(old);
  return "";
}

}  // namespace corvane
