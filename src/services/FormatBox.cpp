#include "services/FormatBox.h"

#include <algorithm>
#include <cctype>

namespace corvane {
namespace {

std::vector<std::string> textList(const nlohmann::json& value) {
  std::vector<std::string> out;
  if (value.is_string()) {
    out.push_back(value.get<std::string>());
  } else if (value.is_array()) {
    for (const auto& v : value)
      if (v.is_string()) out.push_back(v.get<std::string>());
  }
  return out;
}

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  return s;
}

// The descriptions built from {"name", "extensions"} dictionaries; each
// dictionary's extensions are handed to `seen`.
template <class Seen>
std::vector<std::string> describedEntries(const nlohmann::json& descriptions, Seen seen) {
  std::vector<std::string> out;
  for (const auto& d : descriptions) {
    if (!d.is_object() || !d.contains("name") || !d.contains("extensions") || !d["extensions"].is_array()) continue;
    std::string joined;
    for (const auto& e : d["extensions"]) {
      if (!e.is_string()) continue;
      const std::string ext = e.get<std::string>();
      seen(ext);
      joined += joined.empty() ? "." + ext : ",." + ext;
    }
    const std::string name = d["name"].is_string() ? d["name"].get<std::string>() : "";
    if (!name.empty() && !joined.empty()) out.push_back(name + " (" + joined + ")");
  }
  return out;
}

std::vector<std::string> givenEntries(const nlohmann::json& descriptions) {
  std::vector<std::string> out;
  for (const auto& d : descriptions) out.push_back(d.is_string() ? d.get<std::string>() : d.dump());
  return out;
}

}  // namespace

std::vector<std::string> allowedTypes(const nlohmann::json& params) {
  if (params.contains("fileTypes")) return textList(params["fileTypes"]);
  if (params.contains("types")) return textList(params["types"]);
  return {};
}

std::optional<nlohmann::json> typeDescriptions(const nlohmann::json& params) {
  for (const char* key : {"fileTypesDescription", "typesDescript"})
    if (params.contains(key)) return params[key].is_array() ? std::optional(params[key]) : std::nullopt;
  return std::nullopt;
}

bool isAnyType(const std::string& e) { return e == "*" || e == ".*" || e == "*.*"; }

bool hasAnyType(const std::vector<std::string>& extensions) {
  return std::any_of(extensions.begin(), extensions.end(), isAnyType);
}

FormatBox openFormatBox(std::vector<std::string> extensions, const std::optional<nlohmann::json>& descriptions) {
  FormatBox box;
  if (!descriptions) {
    for (const auto& e : extensions) box.descriptions.push_back(upper(e) + " File (." + e + ")");
  } else {
    box.descriptions = describedEntries(*descriptions, [&extensions](const std::string& e) {
      if (std::find(extensions.begin(), extensions.end(), e) == extensions.end()) extensions.push_back(e);
    });
    if (box.descriptions.empty()) box.descriptions = givenEntries(*descriptions);
  }
  box.extensions = std::move(extensions);
  box.countMismatch = box.extensions.size() != box.descriptions.size();
  box.startsWithWholeList = true;
  return box;
}

FormatBox saveFormatBox(std::vector<std::string> extensions, const std::optional<nlohmann::json>& descriptions) {
  FormatBox box;
  if (!descriptions) {
    for (const auto& e : extensions) box.descriptions.push_back(e + " file(." + e + ")");
    if (std::find(extensions.begin(), extensions.end(), "*") == extensions.end())
      box.descriptions.push_back("All Files(.*)");
  } else {
    bool anyNoted = false;
    box.descriptions = describedEntries(*descriptions, [&anyNoted](const std::string& e) { anyNoted |= e == "*"; });
    if (!box.descriptions.empty()) {
      if (!anyNoted) box.descriptions.push_back("All Files(.*)");
    } else {
      box.descriptions = givenEntries(*descriptions);
    }
  }
  box.extensions = std::move(extensions);
  return box;
}

std::optional<std::string> entryExtension(const FormatBox& box, size_t index) {
  if (index >= box.extensions.size() || isAnyType(box.extensions[index])) return std::nullopt;
  return box.extensions[index];
}

namespace {

// The files a list of extensions shows, comparable: lower case, sorted,
// without repeats; empty for every file.
std::vector<std::string> shownFiles(const std::vector<std::string>& extensions) {
  if (hasAnyType(extensions)) return {};
  std::vector<std::string> out;
  for (const auto& e : extensions) {
    std::string lower = e;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    out.push_back(std::move(lower));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace

std::vector<FormatEntry> chooserEntries(const FormatBox& box) {
  std::vector<FormatEntry> out;
  for (size_t i = 0; i < box.descriptions.size(); ++i) {
    const auto ext = entryExtension(box, i);
    out.push_back({box.descriptions[i], ext ? std::vector<std::string>{*ext} : std::vector<std::string>{}});
  }
  if (box.startsWithWholeList && !box.extensions.empty()) {
    std::vector<std::string> whole = hasAnyType(box.extensions) ? std::vector<std::string>{} : box.extensions;
    if (out.empty() || shownFiles(out.front().extensions) != shownFiles(whole)) {
      std::string joined;
      for (const auto& e : box.extensions) joined += (joined.empty() ? "." : ",.") + e;
      out.insert(out.begin(), FormatEntry{"All Types (" + joined + ")", std::move(whole)});
    }
  }
  return out;
}

}  // namespace corvane
