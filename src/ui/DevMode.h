#pragma once
// Development mode of the shell (`corvane --dev`, started by `corvane-kit
// dev`): the main window's web view with developer tools on, the page's
// console shown readably on stdout (level, file:line, message), errors the
// page did not catch and failed loads (address and status) marked out, and
// the page reloaded once per burst of saves in its folders.
//
// It never turns itself on: only the command line asks for it, because a
// development URL gives the bridge to whatever serves that address.
#include "app/FolderWatch.h"

#include <webkit2/webkit2.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

struct ConsoleLine;

class DevMode {
 public:
  // `folders`: the trees whose saves reload the page. `devUrl`: the
  // development server's page, if the page comes from one.
  DevMode(WebKitWebView* view, const std::vector<std::string>& folders, const std::string& devUrl);
  ~DevMode();
  DevMode(const DevMode&) = delete;
  DevMode& operator=(const DevMode&) = delete;

  // How a console line reads on the terminal, without colours: the level,
  // where it comes from (a file of the watched folders relative to them, a
  // server's path, or the file's name) and the message.
  static std::string consoleText(const ConsoleLine& line, const std::vector<std::string>& folders);

 private:
  void print(const std::string& text, const char* colour = nullptr);
  void console(const ConsoleLine& line);
  void reload(const std::vector<std::string>& paths);
  static void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  static gboolean onLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri, GError* error, gpointer self);

  WebKitWebView* view_;
  std::vector<std::string> folders_;
  std::string devUrl_;
  bool colour_ = false;
  std::unique_ptr<FolderWatch> watch_;
};

}  // namespace corvane
