#pragma once
// The entries of an ICNS icon file: "icns", its length, then entries of a
// four-letter type, a length (with its 8-byte head) and the data. Modern
// entries hold a PNG (or JPEG 2000) image; old ones hold RLE bitmaps with
// separate masks, which GdkPixbuf's ICNS loader reads.
#include <optional>
#include <string>
#include <vector>

namespace corvane::icons {

struct IcnsEntry {
  std::string type;  // "ic08", "it32", ...
  std::string data;
  int pngSize = 0;   // the PNG's width when the data is a square PNG, else 0
};

// The entries in file order; nullopt with `error` set when the bytes are
// not an ICNS file or an entry runs past the end.
std::optional<std::vector<IcnsEntry>> readIcnsEntries(const std::string& bytes, std::string* error);

// The width and height in a PNG's header; nullopt when `data` is no PNG.
std::optional<std::pair<int, int>> pngDimensions(const std::string& data);

}  // namespace corvane::icons
