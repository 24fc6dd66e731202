#include "icons/IconImage.h"

#include "icons/IcnsFile.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>

namespace corvane::icons {
namespace {

std::string reason(GError* error, const std::string& fallback) {
  std::string out = error && error->message ? error->message : fallback;
  if (error) g_error_free(error);
  return out;
}

GdkPixbuf* fromBytes(const std::string& data, std::string* error) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  GError* e = nullptr;
  GdkPixbuf* out = nullptr;
  if (gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(data.data()), data.size(), &e) &&
      gdk_pixbuf_loader_close(loader, &e)) {
    out = gdk_pixbuf_loader_get_pixbuf(loader);
    if (out) g_object_ref(out);
  } else {
    gdk_pixbuf_loader_close(loader, nullptr);
    if (error) *error = reason(e, "the image cannot be decoded");
    e = nullptr;
  }
  if (e) g_error_free(e);
  g_object_unref(loader);
  if (!out && error && error->empty()) *error = "the image cannot be decoded";
  return out;
}

// `picture` scaled into a `size` square, centred, with transparent margins.
GdkPixbuf* squared(GdkPixbuf* picture, int size) {
  const int w = gdk_pixbuf_get_width(picture), h = gdk_pixbuf_get_height(picture);
  const double scale = static_cast<double>(size) / std::max(w, h);
  const int sw = std::max(1, static_cast<int>(w * scale + 0.5)), sh = std::max(1, static_cast<int>(h * scale + 0.5));
  GdkPixbuf* out = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, size, size);
  gdk_pixbuf_fill(out, 0);
  const int x = (size - sw) / 2, y = (size - sh) / 2;
  gdk_pixbuf_composite(picture, out, x, y, sw, sh, x, y, static_cast<double>(sw) / w, static_cast<double>(sh) / h,
                       GDK_INTERP_HYPER, 255);
  return out;
}

}  // namespace

IconFormat sniffIconFormat(const std::string& head) {
  if (head.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0) return IconFormat::Png;
  if (head.compare(0, 4, "icns") == 0) return IconFormat::Icns;
  // XML: an optional byte-order mark, declarations and comments, then the
  // svg element.
  size_t at = head.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  const size_t svg = head.find("<svg", at);
  if (svg != std::string::npos) {
    const std::string before = head.substr(at, svg - at);
    if (before.find_first_not_of(" \t\r\n") == std::string::npos || before.find("<?xml") != std::string::npos ||
        before.find("<!--") != std::string::npos || before.find("<!DOCTYPE") != std::string::npos)
      return IconFormat::Svg;
  }
  return IconFormat::Unknown;
}

const char* formatName(IconFormat format) {
  switch (format) {
    case IconFormat::Png: return "PNG";
    case IconFormat::Svg: return "SVG";
    case IconFormat::Icns: return "ICNS";
    case IconFormat::Unknown: break;
  }
  return "unknown";
}

std::optional<IconImage> IconImage::load(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = path + ": " + why;
    return std::nullopt;
  };
  gchar* data = nullptr;
  gsize length = 0;
  GError* e = nullptr;
  if (!g_file_get_contents(path.c_str(), &data, &length, &e)) return fail(reason(e, "cannot be read"));
  IconImage image;
  image.path_ = path;
  image.bytes_.assign(data, length);
  g_free(data);
  image.format_ = sniffIconFormat(image.bytes_.substr(0, 1024));
  switch (image.format_) {
    case IconFormat::Unknown:
      return fail("not a PNG, SVG or ICNS image");
    case IconFormat::Png: {
      auto size = pngDimensions(image.bytes_);
      if (!size) return fail("the PNG header is damaged");
      image.largest_ = std::max(size->first, size->second);
      break;
    }
    case IconFormat::Svg:
      break;
    case IconFormat::Icns: {
      std::string why;
      auto entries = readIcnsEntries(image.bytes_, &why);
      if (!entries) return fail(why);
      for (auto& entry : *entries)
        if (entry.pngSize > 0) image.pngs_.emplace_back(entry.pngSize, std::move(entry.data));
      std::sort(image.pngs_.begin(), image.pngs_.end(),
                [](const auto& a, const auto& b) { return a.first < b.first; });
      break;
    }
  }
  // Decoded once now, so that a damaged or unsupported file is an error
  // here rather than a missing icon later.
  std::string why;
  GdkPixbuf* probe = image.decode(0, &why);
  if (!probe) return fail(why);
  if (image.format_ != IconFormat::Svg)
    image.largest_ = std::max({image.largest_, gdk_pixbuf_get_width(probe), gdk_pixbuf_get_height(probe)});
  g_object_unref(probe);
  return image;
}

// The picture that suits `size` best (0: the largest), not yet squared.
GdkPixbuf* IconImage::decode(int size, std::string* error) const {
  GError* e = nullptr;
  switch (format_) {
    case IconFormat::Svg: {
      GdkPixbuf* out = size > 0 ? gdk_pixbuf_new_from_file_at_scale(path_.c_str(), size, size, TRUE, &e)
                                : gdk_pixbuf_new_from_file(path_.c_str(), &e);
      if (!out && error) *error = reason(e, "the SVG image cannot be drawn") + " (is librsvg2-common installed?)";
      return out;
    }
    case IconFormat::Icns: {
      // The smallest PNG entry at least as large as asked, else the largest;
      // without PNG entries GdkPixbuf's own ICNS loader takes the largest
      // bitmap it knows.
      if (!pngs_.empty()) {
        auto it = std::find_if(pngs_.begin(), pngs_.end(), [size](const auto& p) { return size > 0 && p.first >= size; });
        return fromBytes(it == pngs_.end() ? pngs_.back().second : it->second, error);
      }
      GdkPixbuf* out = gdk_pixbuf_new_from_file(path_.c_str(), &e);
      if (!out && error) *error = reason(e, "the ICNS file holds no image that can be decoded");
      return out;
    }
    case IconFormat::Png: {
      GdkPixbuf* out = fromBytes(bytes_, error);
      return out;
    }
    case IconFormat::Unknown:
      break;
  }
  if (error) *error = "not a PNG, SVG or ICNS image";
  return nullptr;
}

GdkPixbuf* IconImage::render(int size, std::string* error) const {
  if (size <= 0) {
    if (error) *error = "no size";
    return nullptr;
  }
  GdkPixbuf* picture = decode(size, error);
  if (!picture) return nullptr;
  GdkPixbuf* out = squared(picture, size);
  g_object_unref(picture);
  return out;
}

}  // namespace corvane::icons
