#include "services/KeyEquivalent.h"

#include <glib.h>

namespace corvane::keys {

std::string getKeyFromString(const std::string& text) {
  if (text.empty()) return {};
  if (!g_utf8_validate(text.c_str(), static_cast<gssize>(text.size()), nullptr)) return text.substr(text.size() - 1);
  const char* end = text.c_str() + text.size();
  const char* last = g_utf8_find_prev_char(text.c_str(), end);
  return last ? std::string(last, end) : std::string();
}

uint32_t getModifiersFromString(const std::string& text) {
  struct Word {
    const char* text;
    uint32_t flag;
  };
  static constexpr Word words[] = {{"caps", kCapsLock}, {"shift", kShift}, {"cmd", kCommand},
                                   {"ctrl", kControl},  {"opt", kOption},  {"alt", kOption}};
  uint32_t mask = 0;
  for (const auto& w : words)
    if (text.find(w.text) != std::string::npos) mask |= w.flag;
  return mask;
}

}  // namespace corvane::keys
