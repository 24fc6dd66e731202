#include "app/InfoPlist.h"

#include "app/AtomicFile.h"

#include <glib.h>
#include <plist/plist.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>

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

}  // namespace

std::string propertyListXml(const nlohmann::json& value) {
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

std::optional<nlohmann::json> readPropertyList(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot open " + path;
    return std::nullopt;
  }
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.empty()) {
    if (error) *error = path + " is empty";
    return std::nullopt;
  }
  plist_t root = nullptr;
  if (plist_is_binary(data.data(), static_cast<uint32_t>(data.size())))
    plist_from_bin(data.data(), static_cast<uint32_t>(data.size()), &root);
  else
    plist_from_xml(data.data(), static_cast<uint32_t>(data.size()), &root);
  if (!root) {
    if (error) *error = path + " is not a property list";
    return std::nullopt;
  }
  std::unique_ptr<void, decltype(&plist_free)> guard(root, &plist_free);
  return toJson(root);
}

}  // namespace corvane
