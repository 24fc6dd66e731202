#include "plugins/HelperProtocol.h"

namespace corvane {

GDBusInterfaceInfo* helperInterfaceInfo() {
  static GDBusInterfaceInfo* info = [] {
    static const char* xml =
        "<node><interface name='org.corvane.AgentHelperProtocol'>"
        "<method name='ProcessMessage'>"
        "<arg type='s' name='message' direction='in'/>"
        "<arg type='v' name='reply' direction='out'/>"
        "</method></interface></node>";
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
    GDBusInterfaceInfo* iface = g_dbus_interface_info_ref(node->interfaces[0]);
    g_dbus_node_info_unref(node);
    return iface;
  }();
  return info;
}

bool isHelperServiceName(const std::string& name) {
  return !name.empty() && g_dbus_is_name(name.c_str()) && !g_dbus_is_unique_name(name.c_str());
}

std::string helperObjectPath(const std::string& serviceName) {
  std::string path = "/";
  bool elementEmpty = true;
  for (char c : serviceName) {
    if (c == '.') {
      if (elementEmpty) path += '_';
      path += '/';
      elementEmpty = true;
      continue;
    }
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    path += ok ? c : '_';
    elementEmpty = false;
  }
  if (elementEmpty) {
    if (path.size() == 1) return path;
    path += '_';
  }
  return path;
}

nlohmann::json jsonFromVariant(GVariant* value) {
  if (!value) return nullptr;
  const GVariantClass cls = g_variant_classify(value);
  switch (cls) {
    case G_VARIANT_CLASS_BOOLEAN: return static_cast<bool>(g_variant_get_boolean(value));
    case G_VARIANT_CLASS_BYTE: return g_variant_get_byte(value);
    case G_VARIANT_CLASS_INT16: return g_variant_get_int16(value);
    case G_VARIANT_CLASS_UINT16: return g_variant_get_uint16(value);
    case G_VARIANT_CLASS_INT32: return g_variant_get_int32(value);
    case G_VARIANT_CLASS_UINT32: return g_variant_get_uint32(value);
    case G_VARIANT_CLASS_INT64: return g_variant_get_int64(value);
    case G_VARIANT_CLASS_UINT64: return g_variant_get_uint64(value);
    case G_VARIANT_CLASS_DOUBLE: return g_variant_get_double(value);
    case G_VARIANT_CLASS_STRING: return std::string(g_variant_get_string(value, nullptr));
    case G_VARIANT_CLASS_VARIANT: {
      GVariant* inner = g_variant_get_variant(value);
      nlohmann::json out = jsonFromVariant(inner);
      g_variant_unref(inner);
      return out;
    }
    case G_VARIANT_CLASS_MAYBE: {
      GVariant* inner = g_variant_get_maybe(value);
      if (!inner) return nullptr;
      nlohmann::json out = jsonFromVariant(inner);
      g_variant_unref(inner);
      return out;
    }
    case G_VARIANT_CLASS_ARRAY:
    case G_VARIANT_CLASS_TUPLE: {
      const gsize n = g_variant_n_children(value);
      const GVariantType* type = g_variant_get_type(value);
      // a{s*}: a dictionary keyed by text.
      if (cls == G_VARIANT_CLASS_ARRAY && g_variant_type_is_dict_entry(g_variant_type_element(type)) &&
          g_variant_type_equal(g_variant_type_key(g_variant_type_element(type)), G_VARIANT_TYPE_STRING)) {
        nlohmann::json out = nlohmann::json::object();
        for (gsize i = 0; i < n; ++i) {
          GVariant* entry = g_variant_get_child_value(value, i);
          GVariant* k = g_variant_get_child_value(entry, 0);
          GVariant* v = g_variant_get_child_value(entry, 1);
          out[g_variant_get_string(k, nullptr)] = jsonFromVariant(v);
          g_variant_unref(v);
          g_variant_unref(k);
          g_variant_unref(entry);
        }
        return out;
      }
      // The empty tuple and the empty byte array are "no object".
      if (n == 0 && (cls == G_VARIANT_CLASS_TUPLE || g_variant_type_equal(type, G_VARIANT_TYPE_BYTESTRING)))
        return nullptr;
      nlohmann::json out = nlohmann::json::array();
      for (gsize i = 0; i < n; ++i) {
        GVariant* child = g_variant_get_child_value(value, i);
        out.push_back(jsonFromVariant(child));
        g_variant_unref(child);
      }
      return out;
    }
    default: {
      gchar* text = g_variant_print(value, FALSE);
      std::string out(text);
      g_free(text);
      return out;
    }
  }
}

namespace {
// D-Bus has neither empty tuples nor maybe types: "no object" travels as an
// empty byte array, which no JSON value maps to otherwise.
GVariant* noObject() { return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, nullptr, 0, 1); }
}  // namespace

GVariant* variantFromJson(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::null: return noObject();
    case nlohmann::json::value_t::boolean: return g_variant_new_boolean(value.get<bool>());
    case nlohmann::json::value_t::number_integer: return g_variant_new_int64(value.get<int64_t>());
    case nlohmann::json::value_t::number_unsigned: return g_variant_new_uint64(value.get<uint64_t>());
    case nlohmann::json::value_t::number_float: return g_variant_new_double(value.get<double>());
    case nlohmann::json::value_t::string: return g_variant_new_string(value.get_ref<const std::string&>().c_str());
    case nlohmann::json::value_t::object: {
      GVariantBuilder b;
      g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
      for (const auto& [k, v] : value.items()) g_variant_builder_add(&b, "{sv}", k.c_str(), variantFromJson(v));
      return g_variant_builder_end(&b);
    }
    case nlohmann::json::value_t::array: {
      GVariantBuilder b;
      g_variant_builder_init(&b, G_VARIANT_TYPE("av"));
      for (const auto& v : value) g_variant_builder_add(&b, "v", variantFromJson(v));
      return g_variant_builder_end(&b);
    }
    default: return noObject();  // binary: no counterpart
  }
}

}  // namespace corvane
