// The image codec, loaded by ImageFiles.cpp on first use: ImageMagick and
// its many libraries cost every start of the shell a good part of its
// dynamic linking, and most runs never convert an image. One C entry point;
// nothing else of this module is visible.
#include "services/ImageCodec.h"
#include "services/ImageFiles.h"

#include <Magick++.h>
#include <cairo-pdf.h>
#include <cairo-ps.h>
#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

namespace corvane::imagefiles {
namespace {

void initialise() {
  static std::once_flag once;
  std::call_once(once, [] { Magick::InitializeMagick(nullptr); });
}

// Only plain raster formats are decoded by ImageMagick; anything else
// (its script-like and delegate formats among them) goes to GdkPixbuf.
bool decodableByMagick(const std::string& format) {
  static const std::set<std::string> formats{"PNG", "GIF", "TIFF", "JPEG", "JP2", "J2K", "JPC", "BMP", "BMP3",
                                             "ICO", "WEBP", "PNM", "PPM", "PGM", "PBM", "PAM", "TGA"};
  return formats.count(format) > 0;
}

// GdkPixbuf's loaders (ICNS, SVG and the rest) as an RGBA Magick image.
std::optional<Magick::Image> decodeWithPixbuf(const std::string& bytes) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  GError* error = nullptr;
  bool ok = gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), &error) &&
            gdk_pixbuf_loader_close(loader, &error);
  if (error) g_error_free(error);
  GdkPixbuf* pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  std::optional<Magick::Image> image;
  if (pixbuf) {
    GdkPixbuf* rgba = gdk_pixbuf_get_has_alpha(pixbuf) ? g_object_ref(pixbuf) : gdk_pixbuf_add_alpha(pixbuf, FALSE, 0, 0, 0);
    const int w = gdk_pixbuf_get_width(rgba), h = gdk_pixbuf_get_height(rgba);
    const int stride = gdk_pixbuf_get_rowstride(rgba);
    const guchar* pixels = gdk_pixbuf_read_pixels(rgba);
    std::vector<unsigned char> packed(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) std::memcpy(&packed[static_cast<size_t>(y) * w * 4], pixels + y * stride, w * 4);
    image.emplace(w, h, "RGBA", Magick::CharPixel, packed.data());
    g_object_unref(rgba);
  }
  if (!ok) gdk_pixbuf_loader_close(loader, nullptr);
  g_object_unref(loader);
  return image;
}

Magick::Image decode(const std::string& bytes) {
  if (bytes.empty()) throw std::runtime_error("no image data");
  Magick::Blob blob(bytes.data(), bytes.size());
  try {
    Magick::Image probe;
    probe.quiet(true);
    probe.ping(blob);
    if (decodableByMagick(probe.magick())) {
      Magick::Image image;
      image.quiet(true);
      image.read(blob);
      return image;
    }
  } catch (const Magick::Warning&) {
  } catch (const Magick::Exception&) {
  }
  if (auto image = decodeWithPixbuf(bytes)) return *image;
  throw std::runtime_error("the data is not an image of a known format");
}

cairo_status_t appendTo(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

// The image drawn at its own size (one point per pixel) on a PDF or EPS page.
std::string vectorPage(Magick::Image& image, ImageType type) {
  const int w = static_cast<int>(image.columns()), h = static_cast<int>(image.rows());
  cairo_surface_t* bitmap = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  unsigned char* dst = cairo_image_surface_get_data(bitmap);
  const int stride = cairo_image_surface_get_stride(bitmap);
  std::vector<unsigned char> rgba(static_cast<size_t>(w) * h * 4);
  image.write(0, 0, w, h, "RGBA", Magick::CharPixel, rgba.data());
  cairo_surface_flush(bitmap);
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(dst + y * stride);
    for (int x = 0; x < w; ++x) {
      const unsigned char* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
      const uint32_t a = p[3];
      // cairo wants premultiplied colour in native-endian ARGB words.
      row[x] = (a << 24) | ((p[0] * a / 255) << 16) | ((p[1] * a / 255) << 8) | (p[2] * a / 255);
    }
  }
  cairo_surface_mark_dirty(bitmap);
  std::string out;
  cairo_surface_t* page = type == ImageType::Pdf ? cairo_pdf_surface_create_for_stream(appendTo, &out, w, h)
                                                 : cairo_ps_surface_create_for_stream(appendTo, &out, w, h);
  if (type == ImageType::Eps) cairo_ps_surface_set_eps(page, TRUE);
  cairo_t* cr = cairo_create(page);
  cairo_set_source_surface(cr, bitmap, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_finish(page);
  const cairo_status_t status = cairo_surface_status(page);
  cairo_surface_destroy(page);
  cairo_surface_destroy(bitmap);
  if (status != CAIRO_STATUS_SUCCESS) throw std::runtime_error(cairo_status_to_string(status));
  return out;
}

std::string encode(Magick::Image& image, ImageType type) {
  if (type == ImageType::Pdf || type == ImageType::Eps) return vectorPage(image, type);
  const char* format = "PNG";
  switch (type) {
    case ImageType::Gif: format = "GIF"; break;
    case ImageType::Tiff: format = "TIFF"; break;
    case ImageType::Jpeg2000: format = "JP2"; break;
    case ImageType::Jpeg: format = "JPEG"; break;
    case ImageType::Bmp: format = "BMP"; break;
    default: break;
  }
  image.magick(format);
  if (type == ImageType::Jpeg) {
    image.interlaceType(Magick::NoInterlace);  // baseline, not progressive
    // JPEG holds no transparency: flatten onto white rather than black.
    if (image.matte()) {
      Magick::Image flat(Magick::Geometry(image.columns(), image.rows()), Magick::Color("white"));
      flat.composite(image, 0, 0, Magick::OverCompositeOp);
      flat.magick(format);
      flat.interlaceType(Magick::NoInterlace);
      image = flat;
    }
  }
  Magick::Blob blob;
  image.write(&blob);
  return std::string(static_cast<const char*>(blob.data()), blob.length());
}

}  // namespace

}  // namespace corvane::imagefiles

extern "C" __attribute__((visibility("default"))) int corvane_imaging_encode(const char* bytes, size_t length,
                                                                            int type, char** data,
                                                                            size_t* dataLength, char** error) {
  using namespace corvane::imagefiles;
  *data = nullptr;
  *dataLength = 0;
  *error = nullptr;
  try {
    initialise();
    Magick::Image image = decode(std::string(bytes, length));
    const std::string out = encode(image, static_cast<ImageType>(type));
    if (out.empty()) throw std::runtime_error("the encoder gave no data");
    *data = static_cast<char*>(std::malloc(out.size()));
    if (!*data) throw std::bad_alloc();
    std::memcpy(*data, out.data(), out.size());
    *dataLength = out.size();
    return 1;
  } catch (const std::exception& e) {
    *error = strdup(e.what());
    return 0;
  } catch (...) {
    *error = strdup("the image could not be converted");
    return 0;
  }
}
