#include "icons/IcnsFile.h"

#include <cstdint>

namespace corvane::icons {
namespace {

uint32_t bigEndian32(const std::string& bytes, size_t at) {
  auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])); };
  return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";

}  // namespace

std::optional<std::pair<int, int>> pngDimensions(const std::string& data) {
  // Signature, then the IHDR chunk: length, "IHDR", width, height.
  if (data.size() < 24 || data.compare(0, 8, kPngSignature, 8) != 0 || data.compare(12, 4, "IHDR") != 0)
    return std::nullopt;
  const uint32_t w = bigEndian32(data, 16), h = bigEndian32(data, 20);
  if (w == 0 || h == 0 || w > 1 << 16 || h > 1 << 16) return std::nullopt;
  return std::make_pair(static_cast<int>(w), static_cast<int>(h));
}

std::optional<std::vector<IcnsEntry>> readIcnsEntries(const std::string& bytes, std::string* error) {
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return std::nullopt;
  };
  if (bytes.size() < 8 || bytes.compare(0, 4, "icns") != 0) return fail("not an ICNS file");
  const size_t total = bigEndian32(bytes, 4);
  if (total < 8 || total > bytes.size()) return fail("the ICNS file is cut short");
  std::vector<IcnsEntry> entries;
  size_t at = 8;
  while (at < total) {
    if (total - at < 8) return fail("an ICNS entry is cut short");
    const size_t length = bigEndian32(bytes, at + 4);
    if (length < 8 || length > total - at) return fail("an ICNS entry runs past the end of the file");
    IcnsEntry e{bytes.substr(at, 4), bytes.substr(at + 8, length - 8), 0};
    if (auto size = pngDimensions(e.data); size && size->first == size->second) e.pngSize = size->first;
    entries.push_back(std::move(e));
    at += length;
  }
  return entries;
}

}  // namespace corvane::icons
