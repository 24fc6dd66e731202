// The one list of configuration keys (app/ConfigKeys) against everything
// that must agree with it: the keys the code reads, the JSON Schema editors
// use, and the reference page authors read.
#include "app/ConfigKeys.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace corvane::config;

namespace {

const std::string kSource = CORVANE_SOURCE_DIR;

using corvane::test::readFile;

const char* kAdd =
    ": add its row to src/app/ConfigKeys.cpp, its property to data/schema/project.schema.json (project.json "
    "keys) and its line to docs/configuration.md";

// Where a scope's keys sit in the schema (the other scopes are not in project.json).
const std::map<Scope, std::string> kSchemaPlaces = {
    {Scope::Project, "/properties"},
    {Scope::AppExInfo, "/properties/AppExInfo/properties"},
    {Scope::Task, "/$defs/task/properties"},
    {Scope::TaskCondition, "/$defs/condition/properties"},
    {Scope::MenuHide, "/properties/AppExInfo/properties/menuHideList/items/properties"},
    {Scope::MenuTitle, "/properties/AppExInfo/properties/menuTitleList/items/properties"}};

// The JSON types a schema property allows, by its "type", "enum" or "$ref".
std::set<std::string> schemaTypes(const nlohmann::json& p) {
  std::set<std::string> out;
  if (p.contains("type")) {
    if (p["type"].is_string()) out.insert(p["type"].get<std::string>());
    else for (const auto& t : p["type"]) out.insert(t.get<std::string>());
  }
  if (p.contains("enum")) out.insert("string");
  if (p.contains("$ref")) out.insert(p["$ref"].get<std::string>());
  return out;
}

// The schema types of each kind of key (.at() fails the test for a kind missing here).
const std::map<Kind, std::set<std::string>> kSchemaTypes = {
    {Kind::Boolean, {"boolean"}},      {Kind::Unsigned, {"integer"}},      {Kind::Integer, {"integer"}},
    {Kind::Text, {"string"}},          {Kind::TextList, {"array"}},        {Kind::ObjectList, {"array"}},
    {Kind::Size, {"#/$defs/size"}},    {Kind::Object, {"object"}},         {Kind::TextMap, {"object"}},
    {Kind::Any, {}},                   {Kind::BoolOrUnsigned, {"integer", "boolean"}}};

}  // namespace

TEST(ConfigKeys, TheSchemaHoldsEveryProjectKeyWithItsTypeAndNoOther) {
  const auto schema = nlohmann::json::parse(readFile(kSource + "/data/schema/project.schema.json"));
  EXPECT_EQ(schema["$schema"], "https://json-schema.org/draft/2020-12/schema");
  std::map<Scope, std::set<std::string>> listed;
  for (const Key& k : keys()) {
    if (!kSchemaPlaces.count(k.scope)) continue;
    const nlohmann::json& props = schema.at(nlohmann::json::json_pointer(kSchemaPlaces.at(k.scope)));
    const std::string name(k.name);
    listed[k.scope].insert(name);
    if (!props.contains(name)) {
      ADD_FAILURE() << "\"" << name << "\" (" << scopeName(k.scope) << ") is not in the schema" << kAdd;
      continue;
    }
    const nlohmann::json& p = props[name];
    EXPECT_EQ(schemaTypes(p), kSchemaTypes.at(k.kind)) << name << " has another type in the schema";
    EXPECT_TRUE(p.contains("description")) << name;
    EXPECT_EQ(p.value("enum", nlohmann::json::array()).size(), k.choices.size()) << name;
  }
  for (const auto& [scope, place] : kSchemaPlaces)
    for (const auto& [name, _] : schema.at(nlohmann::json::json_pointer(place)).items())
      EXPECT_TRUE(listed[scope].count(name)) << "the schema has \"" << name << "\" (" << scopeName(scope)
                                             << "), which src/app/ConfigKeys.cpp does not list";
}

TEST(ConfigKeys, TheReferenceNamesEveryKey) {
  const std::string reference = readFile(kSource + "/docs/configuration.md");
  for (const Key& k : keys())
    EXPECT_NE(reference.find("`" + std::string(k.name) + "`"), std::string::npos)
        << "docs/configuration.md does not name `" << k.name << "` (" << scopeName(k.scope) << ")";
}

TEST(ConfigKeys, EveryKeyTheShellReadsIsListed) {
  // The files that read the main configuration or Info.plist, and the keys
  // they look up there (lists of keys are looped over as `key`).
  const std::regex readsConfiguration(
      R"(getAppExConfigDic|getMainconfigDic|infoText\(|infoBool\(|infoURL\(|appExText\(|appExInfo|AppExInfo|readLaunchSettings)");
  const std::regex lookup(
      R"re(\b(?:find|contains|value|textOr|text|readBool|readText|readUnsigned|member|flagAt|sizeAt|infoText|infoBool|infoURL|appExText)\(\s*(?:[A-Za-z_][\w.>-]*\s*,\s*)?"([A-Za-z$][\w$]*)")re");
  const std::regex subscript(R"re(\[\s*"([A-Za-z$][\w$]*)"\s*\])re");
  const std::regex keyTable(R"re(\{\s*"([A-Za-z]\w*)"\s*,\s*WindowButton::)re");
  const std::regex keyList(R"re(for \(const char\* key : \{([^}]*)\}\))re");
  const std::regex literal(R"re("([A-Za-z$][\w$]*)")re");
  std::set<std::string> known;
  for (const Key& k : keys()) known.insert(std::string(k.name));
  size_t scanned = 0;
  for (const auto& entry : fs::recursive_directory_iterator(kSource + "/src")) {
    const fs::path& file = entry.path();
    if (file.extension() != ".cpp" || file.parent_path().filename() == "kit") continue;
    const std::string text = readFile(file);
    // The window style plan reads "AppExInfo" handed to it.
    if (!std::regex_search(text, readsConfiguration) && file.filename() != "WindowStyle.cpp") continue;
    ++scanned;
    std::set<std::string> read;
    for (const auto* re : {&lookup, &subscript, &keyTable})
      for (std::sregex_iterator it(text.begin(), text.end(), *re), end; it != end; ++it) read.insert((*it)[1]);
    for (std::sregex_iterator it(text.begin(), text.end(), keyList), end; it != end; ++it) {
      const std::string list = (*it)[1];
      for (std::sregex_iterator l(list.begin(), list.end(), literal); l != end; ++l) read.insert((*l)[1]);
    }
    for (const auto& key : read)
      EXPECT_TRUE(known.count(key)) << fs::relative(file, kSource).string() << " reads the key \"" << key
                                    << "\", which the list of configuration keys lacks" << kAdd;
  }
  EXPECT_GE(scanned, 10u);  // the scan still finds the readers
}

TEST(ConfigKeys, KeysInTheWrongPlaceAreNamedForTheLog) {
  const auto lines = misplacedKeys(nlohmann::json::parse(
      R"({"enableHttpServer": true, "logLevel": "quiet", "AppExInfo": {"enableDeveloperDebug": true, "size": [1, 2], "mine": 1}})"));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "\"enableHttpServer\" at the top level of the main configuration is not read: it belongs inside "
                       "\"AppExInfo\"",
                       "\"enableDeveloperDebug\" inside \"AppExInfo\" is not read: it belongs at the top level of the main "
                       "configuration"}));
  EXPECT_TRUE(misplacedKeys(nlohmann::json::array()).empty());
}
