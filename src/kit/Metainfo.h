#pragma once
// The AppStream metainfo of an application
// (/usr/share/metainfo/<identifier>.metainfo.xml), which software centres
// show, and the description's plain-text layout that Debian's control file
// takes.
#include "kit/AppMetadata.h"

#include <string>
#include <vector>

namespace corvane::kit {

// A description text in blocks: paragraphs are separated by blank lines;
// a block whose every line starts with "- " or "* " is a list.
struct TextBlock {
  bool list = false;
  std::vector<std::string> items;  // one paragraph, or the list's items
};
std::vector<TextBlock> descriptionBlocks(const std::string& text);

std::string metainfoXml(const AppMetadata& app, const std::string& command);

}  // namespace corvane::kit
