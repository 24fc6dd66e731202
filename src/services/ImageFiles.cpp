#include "services/ImageFiles.h"

#include "app/AtomicFile.h"
#include "app/CommandLine.h"
#include "app/FileContents.h"
#include "app/Log.h"
#include "services/ImageCodec.h"

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <vector>

// Where the codec module sits relative to the executable's folder: the
// installed layout (bindir -> libdir), which the build tree mirrors.
#ifndef CORVANE_IMAGING_RELATIVE_DIRS
#define CORVANE_IMAGING_RELATIVE_DIRS "../lib/corvane/modules"
#endif

namespace corvane::imagefiles {
namespace {

// Loaded once, on first use, and kept: the codec's libraries are not
// made to be unloaded.
CorvaneImagingEncode codec(std::string* why) {
  static const auto loaded = []() -> std::pair<CorvaneImagingEncode, std::string> {
    const std::vector<std::string> folders = {CORVANE_IMAGING_RELATIVE_DIRS};
    std::string reasons;
    for (const std::string& file : filesBesideExecutable(folders, CORVANE_IMAGING_MODULE_NAME)) {
      void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!handle) {
        const char* e = dlerror();
        reasons += std::string(reasons.empty() ? "" : "; ") + (e ? e : file);
        continue;
      }
      if (auto* entry = reinterpret_cast<CorvaneImagingEncode>(dlsym(handle, CORVANE_IMAGING_ENCODE_SYMBOL)))
        return {entry, ""};
      reasons += std::string(reasons.empty() ? "" : "; ") + file + " has no codec entry";
    }
    std::string why = "image conversion is not available: " +
                      (reasons.empty() ? std::string(CORVANE_IMAGING_MODULE_NAME) + " was not found" : reasons);
    log().error("{}", why);
    return {nullptr, why};
  }();
  if (!loaded.first && why) *why = loaded.second;
  return loaded.first;
}

}  // namespace

ImageType imageTypeFor(const std::string& text) {
  if (text == "gif") return ImageType::Gif;
  if (text == "tiff" || text == "tif") return ImageType::Tiff;
  if (text == "jpeg") return ImageType::Jpeg2000;
  if (text == "jpg") return ImageType::Jpeg;
  if (text == "bmp") return ImageType::Bmp;
  if (text == "pdf") return ImageType::Pdf;
  if (text == "eps") return ImageType::Eps;
  return ImageType::Png;
}

bool writeImage(const std::string& bytes, ImageType type, const std::string& target, std::string* error) {
  CorvaneImagingEncode encode = codec(error);
  if (!encode) return false;
  char* data = nullptr;
  size_t length = 0;
  char* why = nullptr;
  const bool encoded = encode(bytes.data(), bytes.size(), static_cast<int>(type), &data, &length, &why) != 0;
  std::unique_ptr<char, decltype(&std::free)> dataOwner(data, &std::free), whyOwner(why, &std::free);
  if (!encoded) {
    if (error) *error = why ? why : "the image could not be converted";
    return false;
  }
  return writeFileAtomically(target, std::string_view(data, length), 0644, error);
}

bool convertImageFile(const std::string& source, ImageType type, const std::string& target, std::string* error) {
  // A folder or an unreadable file is a failed conversion, with its reason.
  auto bytes = readFileContents(source, error);
  return bytes && writeImage(*bytes, type, target, error);
}

}  // namespace corvane::imagefiles
