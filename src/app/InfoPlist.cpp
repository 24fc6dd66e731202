#include "app/InfoPlist.h"

#include "app/AtomicFile.h"
#include "app/FileContents.h"
#include "app/JsonText.h"

#include <glib.h>
#include <plist/plist.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace corvane {
namespace {

nlohmann::json toJson(plist_t node) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t v = 0;
      plist_get_bool_val(node, &v);
      return v != 0;
    }
    case PLIST_UINT: {
      // libplist keeps every integer as 64 bits; the XML form of a
      // negative one reads back as its two's complement.
      uint64_t v = 0;
      plist_get_uint_val(node, &v);
      if (v > static_cast<uint64_t>(INT64_MAX)) return static_cast<int64_t>(v);
      return v;
    }
    case PLIST_REAL: {
      double v = 0;
      plist_get_real_val(node, &v);
      return v;
    }
    case PLIST_STRING: {
      char* s = nullptr;
      plist_get_string_val(node, &s);
      std::string out = s ? s : "";
      free(s);
      return out;
    }
    case PLIST_DATA: {
      char* d = nullptr;
      uint64_t len = 0;
      plist_get_data_val(node, &d, &len);
      gchar* b64 = g_base64_encode(reinterpret_cast<const guchar*>(d), len);
      std::string out = b64;
      g_free(b64);
      free(d);
      return out;
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      // Property-list dates count from 2001-01-01.
      GDateTime* t = g_date_time_new_from_unix_utc(static_cast<gint64>(sec) + 978307200);
      gchar* s = g_date_time_format_iso8601(t);
      std::string out = s;
      g_free(s);
      g_date_time_unref(t);
      return out;
    }
    case PLIST_ARRAY: {
      auto arr = nlohmann::json::array();
      for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
        arr.push_back(toJson(plist_array_get_item(node, i)));
      return arr;
    }
    case PLIST_DICT: {
      auto obj = nlohmann::json::object();
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &key, &value);
        if (!key) break;
        obj[key] = toJson(value);
        free(key);
      }
      free(it);
      return obj;
    }
    default:
      return nullptr;
  }
}

plist_t fromJson(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::object: {
      plist_t dict = plist_new_dict();
      for (const auto& [key, member] : value.items()) plist_dict_set_item(dict, key.c_str(), fromJson(member));
      return dict;
    }
    case nlohmann::json::value_t::array: {
      plist_t array = plist_new_array();
      for (const auto& element : value) plist_array_append_item(array, fromJson(element));
      return array;
    }
    case nlohmann::json::value_t::string:
      return plist_new_string(value.get_ref<const std::string&>().c_str());
    case nlohmann::json::value_t::boolean:
      return plist_new_bool(value.get<bool>() ? 1 : 0);
    case nlohmann::json::value_t::number_integer:
      return plist_new_uint(static_cast<uint64_t>(value.get<int64_t>()));
    case nlohmann::json::value_t::number_unsigned:
      return plist_new_uint(value.get<uint64_t>());
    case nlohmann::json::value_t::number_float:
      return plist_new_real(value.get<double>());
    default:
      throw PropertyListError("a property list cannot hold null");
  }
}

// Levels of <array> and <dict> in XML property-list text. Comments,
// CDATA sections and declarations are skipped; text holds no raw "<".
std::optional<size_t> xmlNesting(std::string_view t, size_t stopAbove) {
  size_t depth = 0, deepest = 0;
  auto startsAt = [&](size_t i, std::string_view s) { return t.compare(i, s.size(), s) == 0; };
  auto skipTo = [&](size_t from, std::string_view end) {
    const size_t at = t.find(end, from);
    return at == std::string_view::npos ? t.size() : at + end.size();
  };
  for (size_t i = t.find('<'); i < t.size(); i = t.find('<', i)) {
    if (startsAt(i, "<!--")) {
      i = skipTo(i + 4, "-->");
    } else if (startsAt(i, "<![CDATA[")) {
      i = skipTo(i + 9, "]]>");
    } else if (startsAt(i, "</array") || startsAt(i, "</dict")) {
      if (depth > 0) --depth;
      i = skipTo(i, ">");
    } else if (startsAt(i, "<array") || startsAt(i, "<dict")) {
      const size_t nameEnd = i + (startsAt(i, "<array") ? 6 : 5);
      const size_t close = t.find('>', nameEnd);
      if (close == std::string_view::npos) return std::nullopt;
      const char after = nameEnd < t.size() ? t[nameEnd] : '>';
      const bool tag = after == '>' || after == '/' || after == ' ' || after == '\t' || after == '\n' || after == '\r';
      if (tag && t[close - 1] != '/') {
        deepest = std::max(deepest, ++depth);
        if (deepest > stopAbove) return deepest;
      }
      i = close + 1;
    } else {
      i = skipTo(i, ">");
    }
  }
  return deepest;
}

uint64_t bigEndian(std::string_view d, size_t at, size_t width) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v = (v << 8) | static_cast<unsigned char>(d[at + i]);
  return v;
}

// Levels of arrays, sets and dictionaries in a binary property list, read
// from its object table without recursing. nullopt for tables that do not
// hold together or refer back to themselves.
std::optional<size_t> binaryNesting(std::string_view d, size_t stopAbove) {
  if (d.size() < 8 + 32) return std::nullopt;
  const size_t trailer = d.size() - 32;
  const size_t offsetWidth = static_cast<unsigned char>(d[trailer + 6]);
  const size_t refWidth = static_cast<unsigned char>(d[trailer + 7]);
  const uint64_t count = bigEndian(d, trailer + 8, 8);
  const uint64_t top = bigEndian(d, trailer + 16, 8);
  const uint64_t table = bigEndian(d, trailer + 24, 8);
  if (offsetWidth < 1 || offsetWidth > 8 || refWidth < 1 || refWidth > 8 || count == 0 || top >= count ||
      table >= trailer || count > (trailer - table) / offsetWidth)
    return std::nullopt;
  // The references of object i (for a container), or nullopt when it is none.
  auto children = [&](uint64_t i, std::vector<uint64_t>& out) -> std::optional<bool> {
    const uint64_t at = bigEndian(d, static_cast<size_t>(table + i * offsetWidth), offsetWidth);
    if (at < 8 || at >= table) return std::nullopt;
    const unsigned char marker = static_cast<unsigned char>(d[at]);
    const unsigned type = marker >> 4;
    if (type != 0xA && type != 0xC && type != 0xD) return false;
    uint64_t n = marker & 0xF;
    uint64_t pos = at + 1;
    if (n == 0xF) {
      if (pos >= table) return std::nullopt;
      const unsigned char sizeMarker = static_cast<unsigned char>(d[pos]);
      const size_t width = size_t{1} << (sizeMarker & 0xF);
      if ((sizeMarker >> 4) != 1 || width > 8 || pos + 1 + width > table) return std::nullopt;
      n = bigEndian(d, static_cast<size_t>(pos + 1), width);
      pos += 1 + width;
    }
    if (type == 0xD) {
      // Keys are strings: only the values nest.
      if (n > (table - pos) / (2 * refWidth)) return std::nullopt;
      pos += n * refWidth;
    } else if (n > (table - pos) / refWidth) {
      return std::nullopt;
    }
    out.clear();
    for (uint64_t k = 0; k < n; ++k) {
      const uint64_t ref = bigEndian(d, static_cast<size_t>(pos + k * refWidth), refWidth);
      if (ref >= count) return std::nullopt;
      out.push_back(ref);
    }
    return true;
  };
  // Depth-first with an explicit stack; each object's depth is kept, so
  // shared objects are measured once.
  enum : uint8_t { kNew, kOpen, kDone };
  std::vector<uint8_t> state(static_cast<size_t>(count), kNew);
  std::vector<size_t> depthOf(static_cast<size_t>(count), 0);
  struct Frame {
    uint64_t object;
    std::vector<uint64_t> refs;
    size_t next = 0;
    size_t deepestChild = 0;
  };
  std::vector<Frame> stack;
  auto enter = [&](uint64_t object) -> bool {
    std::vector<uint64_t> refs;
    const auto container = children(object, refs);
    if (!container) return false;
    if (!*container) {
      state[object] = kDone;
      return true;
    }
    state[object] = kOpen;
    stack.push_back({object, std::move(refs)});
    return true;
  };
  if (!enter(top)) return std::nullopt;
  while (!stack.empty()) {
    if (stack.size() > stopAbove) return stack.size();
    Frame& f = stack.back();
    if (f.next < f.refs.size()) {
      const uint64_t child = f.refs[f.next++];
      if (state[child] == kOpen) return std::nullopt;  // a loop
      if (state[child] == kDone)
        f.deepestChild = std::max(f.deepestChild, depthOf[child]);
      else if (!enter(child))  // may grow the stack: `f` is not used after it
        return std::nullopt;
      continue;
    }
    const size_t depth = f.deepestChild + 1;
    depthOf[f.object] = depth;
    state[f.object] = kDone;
    stack.pop_back();
    if (!stack.empty()) stack.back().deepestChild = std::max(stack.back().deepestChild, depth);
  }
  return depthOf[top];
}

}  // namespace

std::string propertyListXml(const nlohmann::json& value) {
  // What is written must read back: the reader takes as many levels as a
  // JSON text from outside may have.
  if (jsonNestingDepth(value) > static_cast<size_t>(kMaxJsonDepth))
    throw PropertyListError("the data is nested deeper than " + std::to_string(kMaxJsonDepth) +
                            " levels, more than an info file can hold");
  std::unique_ptr<void, decltype(&plist_free)> root(fromJson(value), &plist_free);
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root.get(), &xml, &length);
  if (!xml) throw PropertyListError("the property list could not be written as XML");
  std::string out(xml, length);
  free(xml);
  return out;
}

void writePropertyList(const std::string& path, const nlohmann::json& value) {
  const std::string xml = propertyListXml(value);
  std::string why;
  if (!writeFileAtomically(path, xml, 0644, &why)) throw PropertyListError(why);
}

std::optional<size_t> propertyListNesting(std::string_view data, size_t stopAbove) {
  return plist_is_binary(data.data(), static_cast<uint32_t>(data.size())) ? binaryNesting(data, stopAbove)
                                                                          : xmlNesting(data, stopAbove);
}

std::optional<nlohmann::json> readPropertyList(const std::string& path, std::string* error) {
  auto data = readFileContents(path, error);
  if (!data) return std::nullopt;
  if (data->empty()) {
    if (error) *error = path + " is empty";
    return std::nullopt;
  }
  if (data->size() > UINT32_MAX) {
    if (error) *error = path + " is too large for a property list";
    return std::nullopt;
  }
  // The parser and the conversion take one step of the stack per level: a
  // file nested a hundred thousand deep would end the process.
  const auto depth = propertyListNesting(*data, kMaxJsonDepth);
  if (!depth) {
    if (error) *error = path + " is not a property list";
    return std::nullopt;
  }
  if (*depth > static_cast<size_t>(kMaxJsonDepth)) {
    if (error) *error = path + " is nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
    return std::nullopt;
  }
  plist_t root = nullptr;
  if (plist_is_binary(data->data(), static_cast<uint32_t>(data->size())))
    plist_from_bin(data->data(), static_cast<uint32_t>(data->size()), &root);
  else
    plist_from_xml(data->data(), static_cast<uint32_t>(data->size()), &root);
  if (!root) {
    if (error) *error = path + " is not a property list";
    return std::nullopt;
  }
  std::unique_ptr<void, decltype(&plist_free)> guard(root, &plist_free);
  return toJson(root);
}

}  // namespace corvane
