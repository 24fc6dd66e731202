#pragma once
// Where each member and element of a JSON text stands, so that messages
// about a configuration can name the line and column of a key or value.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::kit {

struct TextPlace {
  size_t line = 0;  // from 1; 0: not known
  size_t column = 0;
};

// The place of byte `offset` of `text`.
TextPlace placeOf(std::string_view text, size_t offset);

class JsonLocations {
 public:
  // `text` must be JSON the parser accepted; the walk itself is lenient.
  explicit JsonLocations(std::string_view text);

  // By JSON Pointer ("/AppExInfo/size", "/Tasks/0/taskType"); "" is the
  // top level. A member's key, and the value of a member or element.
  TextPlace key(const std::string& pointer) const;
  TextPlace value(const std::string& pointer) const;

  // Members written twice in one object (the parser keeps the last), as
  // the pointers of their second and later places.
  const std::vector<std::pair<std::string, TextPlace>>& duplicates() const { return duplicates_; }

  // "a/b" -> "a~1b", as JSON Pointer writes a member name.
  static std::string escape(const std::string& name);

 private:
  struct Entry {
    size_t keyOffset = std::string::npos;
    size_t valueOffset = std::string::npos;
  };
  void walkValue(const std::string& pointer);
  void skipSpace();
  std::string readString();

  std::string_view text_;
  size_t at_ = 0;
  std::map<std::string, Entry> entries_;
  std::vector<std::pair<std::string, TextPlace>> duplicates_;
};

}  // namespace corvane::kit
