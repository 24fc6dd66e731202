#include "kit/JsonLocations.h"

namespace corvane::kit {

TextPlace placeOf(std::string_view text, size_t offset) {
  TextPlace p{1, 1};
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++p.line;
      p.column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++p.column;  // columns count characters, not the bytes of one
    }
  }
  return p;
}

JsonLocations::JsonLocations(std::string_view text) : text_(text) {
  skipSpace();
  walkValue("");
}

std::string JsonLocations::escape(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '~') out += "~0";
    else if (c == '/') out += "~1";
    else out += c;
  }
  return out;
}

void JsonLocations::skipSpace() {
  while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
    ++at_;
}

std::string JsonLocations::readString() {
  // At the opening quote; answers the raw text between the quotes with the
  // simple escapes undone (enough to name members).
  std::string out;
  ++at_;
  while (at_ < text_.size() && text_[at_] != '"') {
    if (text_[at_] == '\\' && at_ + 1 < text_.size()) {
      const char e = text_[++at_];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u':
          // Members with \u escapes keep them as written; such names are
          // never keys the shell knows.
          out += "\\u";
          break;
        default: out += e; break;
      }
      ++at_;
      continue;
    }
    out += text_[at_++];
  }
  ++at_;  // the closing quote
  return out;
}

void JsonLocations::walkValue(const std::string& pointer) {
  skipSpace();
  if (at_ >= text_.size()) return;
  entries_[pointer].valueOffset = at_;
  const char c = text_[at_];
  if (c == '{') {
    ++at_;
    for (;;) {
      skipSpace();
      if (at_ >= text_.size()) return;
      if (text_[at_] == '}') {
        ++at_;
        return;
      }
      if (text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (text_[at_] != '"') return;
      const size_t keyAt = at_;
      const std::string member = pointer + "/" + escape(readString());
      if (entries_.count(member) && entries_[member].keyOffset != std::string::npos)
        duplicates_.emplace_back(member, placeOf(text_, keyAt));
      entries_[member].keyOffset = keyAt;
      skipSpace();
      if (at_ < text_.size() && text_[at_] == ':') ++at_;
      walkValue(member);
    }
  }
  if (c == '[') {
    ++at_;
    size_t index = 0;
    for (;;) {
      skipSpace();
      if (at_ >= text_.size()) return;
      if (text_[at_] == ']') {
        ++at_;
        return;
      }
      if (text_[at_] == ',') {
        ++at_;
        continue;
      }
      walkValue(pointer + "/" + std::to_string(index++));
    }
  }
  if (c == '"') {
    readString();
    return;
  }
  // Numbers, true, false, null.
  while (at_ < text_.size() && text_[at_] != ',' && text_[at_] != '}' && text_[at_] != ']' && text_[at_] != ' ' &&
         text_[at_] != '\n' && text_[at_] != '\t' && text_[at_] != '\r')
    ++at_;
}

TextPlace JsonLocations::key(const std::string& pointer) const {
  auto it = entries_.find(pointer);
  if (it == entries_.end()) return {};
  if (it->second.keyOffset == std::string::npos) return value(pointer);
  return placeOf(text_, it->second.keyOffset);
}

TextPlace JsonLocations::value(const std::string& pointer) const {
  auto it = entries_.find(pointer);
  if (it == entries_.end() || it->second.valueOffset == std::string::npos) return {};
  return placeOf(text_, it->second.valueOffset);
}

}  // namespace corvane::kit
