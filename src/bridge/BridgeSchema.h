#pragma once
// What the UI process tells the extension in its answer to kHello: the
// script face of every bridge class (method script names in method-id
// order, visible fields), the root object and its members, and the origin
// policy. Shared by both sides so that the two can never disagree on order.
#include "bridge/OriginPolicy.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::bridge {

struct ClassFace {
  std::string name;
  std::vector<std::string> methods;  // script names; index = method id
  std::vector<std::string> fields;   // script-visible fields, read on demand
};

struct MemberRef {
  std::string name;
  uint32_t object = 0;
  uint32_t classIndex = 0;
};

struct BridgeSchema {
  std::vector<ClassFace> classes;
  uint32_t rootObject = 0;
  uint32_t rootClass = 0;
  std::vector<MemberRef> members;  // fixed members of the root, in order
  std::vector<std::string> globalNames;
  OriginPolicy policy;

  nlohmann::json toJson() const;
  static BridgeSchema fromJson(const nlohmann::json& j);
};

// The message of the TypeError a page gets for calling a method (or reading
// a field) of class `cls` on an object that is not one of its instances.
std::string receiverErrorText(const std::string& cls, const std::string& member);

}  // namespace corvane::bridge
