#pragma once
// The pages' console lines in the UI process. Every line is logged with the
// fixed text "JavaScript console: <file>:<line>: <message>"; development
// mode also watches them, to show them readably on the terminal.
#include <functional>
#include <string>

namespace corvane {

struct ConsoleLine {
  std::string level;   // "log", "info", "warn", "error", "debug"
  // "console", "javascript", "network", "security", "other", or
  // "exception": an error a script the bridge ran (a callback) did not catch
  std::string source;
  std::string url;     // the script or resource; may be empty
  unsigned line = 0;
  std::string text;    // for "exception": the engine's whole report
};

// Logs the line and hands it to the observer, if one is set.
void reportConsoleLine(const ConsoleLine& line);

// The one observer of the pages' console (development mode); an empty
// function removes it. Main thread.
void setConsoleObserver(std::function<void(const ConsoleLine&)> observer);

// "a/b/c.js?x#y" -> "c.js".
std::string lastPathComponent(const std::string& uri);

}  // namespace corvane
