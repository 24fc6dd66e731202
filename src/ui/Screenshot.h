#pragma once
// Saves what a web view shows as a PNG once its page has loaded. Used by
// headless runs (the Showcase run command under a virtual display).
#include <webkit2/webkit2.h>

#include <functional>
#include <string>

namespace corvane {

// After the next finished load (and `delayMs` more for the page's first
// scripts), writes the visible region to `pngPath` and calls `done` with
// success.
void saveScreenshotAfterLoad(WebKitWebView* view, const std::string& pngPath, int delayMs,
                             std::function<void(bool)> done);

}  // namespace corvane
