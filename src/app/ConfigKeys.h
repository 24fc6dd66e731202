#pragma once
// Every key the shell reads from an application's configuration: the main
// configuration (project.json and its "AppExInfo", start-up tasks, menu
// entries), the boot-strap file and Info.plist. One row per key, with the
// type the readers accept, the default and what it does.
//
// This list is what `corvane-kit check` validates against, and the tests
// hold the JSON Schema (data/schema/project.schema.json), the reference
// (docs/configuration.md) and the code's own readers to it: a key read
// anywhere in src/ must have its row here. Info.plist keys that tools
// read (packaging metadata) have their rows here too, so that `check`
// knows them.
#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace corvane::config {

// Where a key lives.
enum class Scope {
  Project,        // top level of the main configuration
  AppExInfo,      // the "AppExInfo" object
  Task,           // an element of "Tasks"
  TaskCondition,  // an element of a task's "conditions"
  MenuHide,       // an element of "AppExInfo" "menuHideList"
  MenuTitle,      // an element of "AppExInfo" "menuTitleList"
  BootStrap,      // public/ian.json
  InfoPlist,      // Contents/Info.plist
  DocumentType,   // an element of Info.plist "CFBundleDocumentTypes"
};

// The JSON (or property-list) type a reader accepts.
enum class Kind {
  Boolean,   // true/false (the readers also take numbers and "YES"/"true" texts)
  Unsigned,  // a non-negative integer
  Integer,   // a whole number, negative ones included
  Text,
  TextList,  // an array of texts
  Size,      // [width, height], or the text "{width, height}"
  Object,
  ObjectList,  // an array of objects
  TextMap,     // an object whose values are texts
  Any,         // shown in log lines only
  BoolOrUnsigned,  // a condition's "value": a number for "compare", a boolean for "path_exist"
};

struct Key {
  Scope scope;
  std::string_view name;
  Kind kind;
  std::string_view defaultText;  // as the reference shows it; empty: absent
  std::vector<std::string_view> choices;  // the only texts that mean something (empty: any)
  std::string_view summary;
};

// Every key, grouped by scope in the order the reference lists them.
const std::vector<Key>& keys();

// The key `name` in `scope`, or nullptr.
const Key* find(Scope scope, std::string_view name);

// Keys of the main configuration written where the shell does not read
// them but would read them elsewhere ("enableDeveloperDebug" inside
// "AppExInfo", "enableHttpServer" at the top level): one sentence each, for
// the log. The shell ignores them there, as it always has.
std::vector<std::string> misplacedKeys(const nlohmann::json& mainConfiguration);

// "the top level", "\"AppExInfo\"", "a start-up task", ... for messages.
std::string scopeName(Scope scope);
// "a boolean", "text", "[width, height]", ... for messages.
std::string kindName(Kind kind);

}  // namespace corvane::config
