#pragma once
// Renders the icon theme's icon of a file-system item as a PNG; installed
// as the Utils icon writer so file routines can answer icon paths.
#include <string>

namespace corvane {

bool writeFileIconPng(const std::string& item, const std::string& pngPath);
void installFileIconWriter();

}  // namespace corvane
