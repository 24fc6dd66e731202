#pragma once
// What the "AppExInfo" dictionary asks of the main window and the main
// menu, worked out without a display. The UI layer applies the result to
// its GTK window, header bar and menu bar.
#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane {

using SizePair = std::pair<double, double>;

enum class WindowButton { Close, Miniaturize, Zoom, Toolbar, DocumentIcon, DocumentVersions, FullScreen };

struct WindowStylePlan {
  // Style bits after every style key, in table order; nullopt: untouched.
  std::optional<bool> titled, textured, unifiedTitleAndToolbar, closable, miniaturizable, resizable;
  std::optional<bool> shadow;
  // Buttons to hide (true) or show (false), in the order they were decided.
  std::vector<std::pair<WindowButton, bool>> buttons;
  std::optional<SizePair> contentAspectRatio;
};

struct WindowSizePlan {
  bool autoOffset = false;
  std::optional<SizePair> maxSize, minSize, size;
};

struct MenuHideOp {
  long tag = -9999;
  bool hide = true;
};
struct MenuTitleOp {
  long tag = -9999;
  std::string title;  // placeholders already expanded
  std::string method = "rp";
};
struct MenuPlan {
  std::vector<MenuHideOp> hide;
  std::vector<MenuTitleOp> titles;
};

// Each throws std::exception on malformed values (a size that is not two
// numbers, a key of the wrong type); the launch step logs and skips.
WindowStylePlan windowStylePlan(const nlohmann::json& appExInfo);
WindowSizePlan windowSizePlan(const nlohmann::json& appExInfo);
MenuPlan menuPlan(const nlohmann::json& appExInfo,
                  const std::function<std::string(const std::string&)>& expand);

// The new title of a "menuTitleList" entry: "rp" T, "p+" T+O, "+s" O+T,
// "re" O expanded, anything else empty.
std::string menuTitle(const std::string& method, const std::string& title, const std::string& old,
                      const std::function<std::string(const std::string&)>& expand);

// "{800, 600}", [800, 600] → (800, 600); throws for anything else.
SizePair sizePair(const nlohmann::json& value);

}  // namespace corvane
