#pragma once
// The key-equivalent grammar of page-built menu items: "cmd+shift+s" is the
// key s with command and shift. The key is the text's last character; the
// modifiers are words found anywhere in the text, case-sensitive. The mask
// uses the modifier bits pages were written against; the menu layer maps
// them to the toolkit's accelerator modifiers.
#include <cstdint>
#include <string>

namespace corvane::keys {

inline constexpr uint32_t kCapsLock = 1u << 16;
inline constexpr uint32_t kShift = 1u << 17;
inline constexpr uint32_t kControl = 1u << 18;
inline constexpr uint32_t kOption = 1u << 19;
inline constexpr uint32_t kCommand = 1u << 20;

// The last character (a whole UTF-8 sequence), or "" for an empty text.
std::string getKeyFromString(const std::string& text);
// "caps", "shift", "cmd", "ctrl", "opt" / "alt" anywhere in the text.
uint32_t getModifiersFromString(const std::string& text);

}  // namespace corvane::keys
