#include "kit/IconTheme.h"

#include "kit/KitFiles.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <stdexcept>

namespace corvane::kit {

std::vector<int> themeIconSizes(int largest) {
  std::vector<int> sizes;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512})
    if (largest == 0 || size <= largest) sizes.push_back(size);
  return sizes;
}

std::vector<std::string> writeThemeIcons(const icons::IconImage& image, const std::string& themeRoot,
                                         const std::string& name) {
  std::vector<std::string> written;
  const auto sizes = themeIconSizes(image.scalable() ? 0 : image.largestSize());
  if (sizes.empty())
    throw std::runtime_error(image.path() + ": the icon is " + std::to_string(image.largestSize()) +
                             " pixels; 16 at least are needed, 256 or more are best");
  for (int size : sizes) {
    std::string why;
    GdkPixbuf* pixbuf = image.render(size, &why);
    if (!pixbuf) throw std::runtime_error(image.path() + ": " + why);
    gchar* buffer = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    const bool saved = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &length, "png", &error, nullptr);
    g_object_unref(pixbuf);
    if (!saved) {
      why = error ? error->message : "cannot encode PNG";
      if (error) g_error_free(error);
      throw std::runtime_error(image.path() + ": " + why);
    }
    const std::string relative = std::to_string(size) + "x" + std::to_string(size) + "/apps/" + name + ".png";
    writeFile(themeRoot + "/" + relative, std::string(buffer, length));
    g_free(buffer);
    written.push_back(relative);
  }
  if (image.scalable()) {
    const std::string relative = "scalable/apps/" + name + ".svg";
    writeFile(themeRoot + "/" + relative, image.bytes());
    written.push_back(relative);
  }
  return written;
}

}  // namespace corvane::kit
