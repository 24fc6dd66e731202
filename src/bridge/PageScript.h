#pragma once
// The page's script door, handed to service objects as "their web view".
// It outlives connections: after a web-process crash the same door serves
// the new connection. Use on the main thread unless stated otherwise.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <string>

namespace corvane {

class PageConnection;

class PageScript : public std::enable_shared_from_this<PageScript> {
 public:
  // Runs script text in the page's main frame. Inside a bridge call from
  // this page the text runs before the call returns to the page script
  // (it rides the reply); otherwise it is sent at once and runs when the
  // web process next takes messages.
  void evaluate(const std::string& script);
  // Calls a page function held by handle with the JSON array `args`.
  void callFunction(uint64_t handle, uint64_t generation, const nlohmann::json& args);
  void releaseFunction(uint64_t handle, uint64_t generation);

  // Changes with every new connection; handles of older ones are dead.
  uint64_t generation() const { return generation_; }
  void attach(PageConnection* connection);
  void detach(PageConnection* connection);
  PageConnection* connection() const { return connection_; }

 private:
  PageConnection* connection_ = nullptr;
  uint64_t generation_ = 0;
};

// Calls the page function named `callback` with `value` ("%@(%@);"). On
// the main thread at once; from any other thread queued onto the main
// thread in order. An empty name or a missing page does nothing.
void EvalJsWithWebView(const std::shared_ptr<PageScript>& webView, const std::string& callback,
                       const nlohmann::json& value);

}  // namespace corvane
