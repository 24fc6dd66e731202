#pragma once
// The page's script door, handed to service objects as "their web view".
// It outlives connections: after a web-process crash the same door serves
// the new connection. Use on the main thread unless stated otherwise.
//
// Each connection is one page, numbered by its generation. An answer meant
// for a page that is gone (its web process died, or a new process took
// over the view) is dropped, never handed to the page shown now: the new
// page may well have a function of the same name.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

class PageConnection;
namespace bridge {
struct Reply;
}

class PageScript;

// The page that made the call being served, remembered on the main thread
// for an answer that comes later (from a thread, a helper, a print job).
struct CallerPage {
  std::weak_ptr<PageScript> page;
  uint64_t generation = 0;
};

class PageScript : public std::enable_shared_from_this<PageScript> {
 public:
  // Runs script text in the page's main frame. Inside a bridge call from
  // this page the text runs before the call returns to the page script
  // (it rides the reply); otherwise it is sent at once and runs when the
  // web process next takes messages. Text that the code of a call from a
  // page that is gone asks for is dropped.
  void evaluate(const std::string& script);
  // Calls a page function held by handle with the JSON array `args`.
  void callFunction(uint64_t handle, uint64_t generation, const nlohmann::json& args);
  void releaseFunction(uint64_t handle, uint64_t generation);

  // Changes with every new connection and when the connection goes away;
  // handles of older ones are dead.
  uint64_t generation() const { return generation_; }
  // Answers the generation of the page now connected.
  uint64_t attach(PageConnection* connection);
  void detach(PageConnection* connection);
  PageConnection* connection() const { return connection_; }

  // Bridge calls being served, innermost last. A modal wait inside a call
  // (a dialog, an alert, a long copy) runs the main loop, which may serve
  // further calls, also from a new page after a crash: the calls nest.
  void beginCall(bridge::Reply* reply, uint64_t generation);
  void endCall();
  // The reply of the innermost call being served, whichever page made it.
  bridge::Reply* innermostReply() const { return calls_.empty() ? nullptr : calls_.back().reply; }
  // The page whose call is being served (the page shown now outside calls).
  CallerPage caller();
  // True while the code of a call runs whose page is gone (not the work
  // that a modal wait of that call runs meanwhile): its answers go nowhere
  // and whatever it would do only for its page need not be done.
  bool callerGone() const;

 private:
  struct Call {
    bridge::Reply* reply;
    uint64_t generation;
    int depth;  // the main loop's dispatch depth the call's own code runs at
  };
  // The reply of the innermost call if the page shown now made it.
  bridge::Reply* liveReply() const;

  PageConnection* connection_ = nullptr;
  uint64_t generation_ = 0;
  std::vector<Call> calls_;
};

// Calls the page function named `callback` with `value` ("%@(%@);"). On
// the main thread at once; from any other thread queued onto the main
// thread in order. An empty name or a missing page does nothing.
void EvalJsWithWebView(const std::shared_ptr<PageScript>& webView, const std::string& callback,
                       const nlohmann::json& value);
// The same for an answer that comes after its call has returned: it goes to
// the page that made the call, and is dropped when that page is gone.
void EvalJsWithWebView(const CallerPage& caller, const std::string& callback, const nlohmann::json& value);

}  // namespace corvane
