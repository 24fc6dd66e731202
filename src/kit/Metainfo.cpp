#include "kit/Metainfo.h"

#include "kit/DesktopEntry.h"

#include <glib.h>

#include <sstream>

namespace corvane::kit {
namespace {

std::string escape(const std::string& text) {
  gchar* e = g_markup_escape_text(text.c_str(), static_cast<gssize>(text.size()));
  std::string out = e;
  g_free(e);
  return out;
}

std::string trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

bool isItem(const std::string& line) { return line.rfind("- ", 0) == 0 || line.rfind("* ", 0) == 0; }

std::string blocksXml(const std::vector<TextBlock>& blocks, const std::string& indent) {
  std::string out;
  for (const auto& b : blocks) {
    if (b.list) {
      out += indent + "<ul>\n";
      for (const auto& item : b.items) out += indent + "  <li>" + escape(item) + "</li>\n";
      out += indent + "</ul>\n";
    } else {
      out += indent + "<p>" + escape(b.items.front()) + "</p>\n";
    }
  }
  return out;
}

}  // namespace

std::vector<TextBlock> descriptionBlocks(const std::string& text) {
  std::vector<TextBlock> blocks;
  std::vector<std::string> lines;
  auto flush = [&] {
    if (lines.empty()) return;
    bool list = true;
    for (const auto& l : lines) list = list && isItem(l);
    TextBlock b{list, {}};
    if (list) {
      for (const auto& l : lines) b.items.push_back(trimmed(l.substr(2)));
    } else {
      std::string joined;
      for (const auto& l : lines) joined += (joined.empty() ? "" : " ") + l;
      b.items.push_back(joined);
    }
    blocks.push_back(std::move(b));
    lines.clear();
  };
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    line = trimmed(line);
    if (line.empty())
      flush();
    else
      lines.push_back(line);
  }
  flush();
  return blocks;
}

std::string metainfoXml(const AppMetadata& app, const std::string& command) {
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<component type=\"desktop-application\">\n";
  x += "  <id>" + escape(app.identifier) + "</id>\n";
  x += "  <metadata_license>" + escape(app.metadataLicense) + "</metadata_license>\n";
  if (!app.license.empty()) x += "  <project_license>" + escape(app.license) + "</project_license>\n";
  x += "  <name>" + escape(app.name) + "</name>\n";
  x += "  <summary>" + escape(app.summary) + "</summary>\n";
  auto blocks = descriptionBlocks(app.description);
  if (blocks.empty()) blocks.push_back({false, {app.summary}});
  x += "  <description>\n" + blocksXml(blocks, "    ") + "  </description>\n";
  if (!app.developerName.empty()) x += "  <developer_name>" + escape(app.developerName) + "</developer_name>\n";
  x += "  <launchable type=\"desktop-id\">" + escape(app.identifier) + ".desktop</launchable>\n";
  if (!app.homepage.empty()) x += "  <url type=\"homepage\">" + escape(app.homepage) + "</url>\n";
  if (!app.keywords.empty()) {
    x += "  <keywords>\n";
    for (const auto& k : app.keywords) x += "    <keyword>" + escape(k) + "</keyword>\n";
    x += "  </keywords>\n";
  }
  x += "  <provides>\n    <binary>" + escape(command) + "</binary>\n";
  for (const auto& mime : openedMimeTypes(app)) x += "    <mediatype>" + escape(mime) + "</mediatype>\n";
  x += "  </provides>\n";
  x += "  <releases>\n";
  for (const auto& r : app.releases) {
    x += "    <release version=\"" + escape(r.version) + "\" date=\"" + escape(r.date) + "\"";
    const auto notes = descriptionBlocks(r.description);
    if (notes.empty()) {
      x += "/>\n";
    } else {
      x += ">\n      <description>\n" + blocksXml(notes, "        ") + "      </description>\n    </release>\n";
    }
  }
  x += "  </releases>\n";
  x += "</component>\n";
  return x;
}

}  // namespace corvane::kit
