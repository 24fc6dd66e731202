#pragma once
// An application icon read from its file (PNG, SVG or ICNS, told apart by
// their content, not their names) and drawn square at any size: the window
// icon of the shell and the icon theme files of corvane-kit's packages.
// GdkPixbuf only (its PNG, SVG and ICNS loaders); no display needed.
#include <optional>
#include <string>
#include <vector>

typedef struct _GdkPixbuf GdkPixbuf;

namespace corvane::icons {

enum class IconFormat { Unknown, Png, Svg, Icns };

// The format the first bytes of a file show.
IconFormat sniffIconFormat(const std::string& head);
const char* formatName(IconFormat format);

class IconImage {
 public:
  // Reads and checks the file: nullopt with a reason when it cannot be
  // read, is of another format, or holds no image GdkPixbuf can decode.
  static std::optional<IconImage> load(const std::string& path, std::string* error);

  IconFormat format() const { return format_; }
  const std::string& path() const { return path_; }
  const std::string& bytes() const { return bytes_; }
  bool scalable() const { return format_ == IconFormat::Svg; }
  // The largest square size the file holds without enlarging (its larger
  // side for a raster image, the largest ICNS image); 0 for SVG.
  int largestSize() const { return largest_; }

  // The icon drawn `size` pixels square (transparent margins keep a
  // non-square picture's proportions). A new reference, or nullptr with a
  // reason.
  GdkPixbuf* render(int size, std::string* error) const;

 private:
  IconImage() = default;
  GdkPixbuf* decode(int size, std::string* error) const;

  std::string path_;
  std::string bytes_;
  IconFormat format_ = IconFormat::Unknown;
  int largest_ = 0;
  // ICNS: the PNG entries, smallest first (size, data).
  std::vector<std::pair<int, std::string>> pngs_;
};

}  // namespace corvane::icons
