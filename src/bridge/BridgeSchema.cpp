#include "bridge/BridgeSchema.h"

namespace corvane::bridge {

nlohmann::json BridgeSchema::toJson() const {
  nlohmann::json j;
  j["classes"] = nlohmann::json::array();
  for (const auto& c : classes)
    j["classes"].push_back({{"name", c.name}, {"methods", c.methods}, {"fields", c.fields}});
  j["rootObject"] = rootObject;
  j["rootClass"] = rootClass;
  j["members"] = nlohmann::json::array();
  for (const auto& m : members)
    j["members"].push_back({{"name", m.name}, {"object", m.object}, {"class", m.classIndex}});
  j["globalNames"] = globalNames;
  j["policy"] = policy.toJson();
  return j;
}

BridgeSchema BridgeSchema::fromJson(const nlohmann::json& j) {
  BridgeSchema s;
  if (!j.is_object()) return s;
  for (const auto& c : j.value("classes", nlohmann::json::array())) {
    ClassFace f;
    f.name = c.value("name", "");
    f.methods = c.value("methods", std::vector<std::string>{});
    f.fields = c.value("fields", std::vector<std::string>{});
    s.classes.push_back(std::move(f));
  }
  s.rootObject = j.value("rootObject", 0u);
  s.rootClass = j.value("rootClass", 0u);
  for (const auto& m : j.value("members", nlohmann::json::array())) {
    MemberRef r{m.value("name", ""), m.value("object", 0u), m.value("class", 0u)};
    if (r.classIndex < s.classes.size()) s.members.push_back(std::move(r));
  }
  s.globalNames = j.value("globalNames", std::vector<std::string>{});
  if (j.contains("policy")) s.policy = OriginPolicy::fromJson(j["policy"]);
  if (s.rootClass >= s.classes.size()) s.classes.resize(s.rootClass + 1);
  return s;
}

std::string receiverErrorText(const std::string& cls, const std::string& member) {
  return "Can only call " + cls + "." + member + " on instances of " + cls;
}

}  // namespace corvane::bridge
