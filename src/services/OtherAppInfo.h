#pragma once
// Facts about another application on disk, for getOtherAppInfo: an
// application bundle (its Contents/Info.plist and icon) or an installed
// desktop entry (a .desktop file, or its desktop-file id), both answered
// with the same keys. Platform-free (GLib); turning the icon into a PNG is
// handed in.
#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <string>
#include <variant>

namespace corvane::otherapp {

// Writes the image at `image` as a PNG file at `png`; true when written.
using PngWriter = std::function<bool(const std::string& image, const std::string& png)>;

// A dictionary with the keys of the answer that have values; no value when
// there is nothing at the path or it is no application; a text when the
// application's description could not be read.
using Answer = std::variant<std::monostate, nlohmann::json, std::string>;

Answer getOtherAppInfo(const std::string& path, const PngWriter& toPng);

// The desktop entry file of an installed application named by its
// desktop-file id ("org.example.Editor" or "org.example.Editor.desktop"),
// searched in $XDG_DATA_HOME/applications and each $XDG_DATA_DIRS
// applications folder (sub-folders give ids joined with "-").
std::optional<std::string> desktopEntryForId(const std::string& id);

// An icon-theme name ("accessories-text-editor") to the best file: the
// largest raster size of the hicolor theme (or the named theme first), then
// scalable, then the pixmaps folder. Absolute names are taken as they are.
std::optional<std::string> iconFileForName(const std::string& name, const std::string& theme = "");

}  // namespace corvane::otherapp
