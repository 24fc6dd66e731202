#pragma once
// Image files for the file writer and for application icons: decoding
// image bytes of the common formats and writing them as PNG, GIF, TIFF,
// JPEG 2000, baseline JPEG, BMP, or as a PDF or EPS page of the image's own
// size. Raster formats are ImageMagick's (Magick++); PDF and EPS are drawn
// with cairo, which Debian's ImageMagick security policy does not stop.
// Needs no display. Every target is replaced atomically.
#include <optional>
#include <string>

namespace corvane::imagefiles {

enum class ImageType { Png, Gif, Tiff, Jpeg2000, Jpeg, Bmp, Pdf, Eps };

// "png", "gif", "tiff"/"tif", "jpeg" (JPEG 2000), "jpg" (baseline JPEG),
// "bmp", "pdf", "eps", exactly and in lower case; anything else is PNG.
ImageType imageTypeFor(const std::string& text);

// Decodes `bytes` (PNG, GIF, TIFF, JPEG, JPEG 2000, BMP, ICO, WebP, the
// netpbm formats, or what GdkPixbuf reads, such as ICNS and SVG) and
// writes it to `target` as `type`. False, with a reason, when the bytes are
// no image or the target cannot be written; the target is then untouched.
bool writeImage(const std::string& bytes, ImageType type, const std::string& target, std::string* error = nullptr);

// The same for an image file.
bool convertImageFile(const std::string& source, ImageType type, const std::string& target,
                      std::string* error = nullptr);

}  // namespace corvane::imagefiles
