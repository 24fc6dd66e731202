#pragma once
// An application's icon in the hicolor icon theme: PNG files from 16 to
// 512 pixels (never enlarged beyond the source's own size) and, for an SVG
// source, the SVG itself as the scalable icon.
#include "icons/IconImage.h"

#include <string>
#include <vector>

namespace corvane::kit {

// Writes <themeRoot>/<N>x<N>/apps/<name>.png (and scalable/apps/<name>.svg)
// and answers the files written, relative to `themeRoot`. Throws
// std::runtime_error when a size cannot be drawn or written.
std::vector<std::string> writeThemeIcons(const icons::IconImage& image, const std::string& themeRoot,
                                         const std::string& name);

// The sizes written for a source whose largest size is `largest` (0: SVG).
std::vector<int> themeIconSizes(int largest);

}  // namespace corvane::kit
