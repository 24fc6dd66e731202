#include "bridge/PageScript.h"

#include "app/Log.h"
#include "bridge/FrameChannel.h"
#include "bridge/MainQueue.h"
#include "bridge/PageConnection.h"
#include "bridge/TextEncoding.h"
#include "bridge/UtilTool.h"

#include <glib.h>

namespace corvane {

uint64_t PageScript::attach(PageConnection* connection) {
  connection_ = connection;
  return ++generation_;
}

void PageScript::detach(PageConnection* connection) {
  if (connection_ != connection) return;
  connection_ = nullptr;
  // The page of that connection is gone: whatever it held is dead, and
  // answers still owed to it go nowhere.
  ++generation_;
}

void PageScript::beginCall(bridge::Reply* reply, uint64_t generation) {
  calls_.push_back({reply, generation, g_main_depth()});
}

void PageScript::endCall() {
  if (!calls_.empty()) calls_.pop_back();
}

bridge::Reply* PageScript::liveReply() const {
  // A call of a page that is gone can only be below the calls of the page
  // shown now: its connection serves nothing more once it is closed.
  return !calls_.empty() && calls_.back().generation == generation_ ? calls_.back().reply : nullptr;
}

CallerPage PageScript::caller() {
  return {weak_from_this(), calls_.empty() ? generation_ : calls_.back().generation};
}

bool PageScript::callerGone() const {
  // What a modal wait dispatches runs deeper in the main loop than the
  // call that waits; only the call's own code runs at its depth.
  return !calls_.empty() && calls_.back().generation != generation_ && calls_.back().depth == g_main_depth();
}

void PageScript::evaluate(const std::string& script) {
  if (callerGone()) {
    log().debug("answer dropped: the page that made the call is gone");
    return;
  }
  if (!connection_) return;
  // The engine reads script text as UTF-8 and drops all of it when a byte
  // is amiss; native texts inside it (file names) need not be UTF-8.
  const std::string text =
      bridge::isWellFormedUtf8(script) ? script : bridge::wellFormedUtf8(script);
  if (auto* reply = liveReply()) {
    reply->actions.push_back({bridge::PageAction::kEvaluate, 0, text});
    return;
  }
  connection_->sendEvaluate(text);
}

void PageScript::callFunction(uint64_t handle, uint64_t generation, const nlohmann::json& args) {
  if (!connection_ || generation != generation_) return;
  std::string text = args.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  if (auto* reply = liveReply()) {
    reply->actions.push_back({bridge::PageAction::kCallFunction, handle, std::move(text)});
    return;
  }
  connection_->sendCallFunction(handle, text);
}

void PageScript::releaseFunction(uint64_t handle, uint64_t generation) {
  if (!connection_ || generation != generation_) return;
  connection_->sendReleaseFunction(handle);
}

void EvalJsWithWebView(const std::shared_ptr<PageScript>& webView, const std::string& callback,
                       const nlohmann::json& value) {
  try {
    if (callback.empty()) return;
    std::string script = UtilTool::callbackScript(callback, value);
    if (!webView) return;
    if (MainQueue::isMainThread()) {
      webView->evaluate(script);
      return;
    }
    std::weak_ptr<PageScript> weak = webView;
    MainQueue::post([weak, script = std::move(script)] {
      if (auto page = weak.lock()) page->evaluate(script);
    });
  } catch (const std::exception& e) {
    log().error("{}{} [Line {}] ", e.what(), __PRETTY_FUNCTION__, __LINE__);
  }
}

void EvalJsWithWebView(const CallerPage& caller, const std::string& callback, const nlohmann::json& value) {
  try {
    if (callback.empty()) return;
    auto deliver = [caller, script = UtilTool::callbackScript(callback, value)] {
      auto page = caller.page.lock();
      if (!page) return;
      if (page->generation() != caller.generation) {
        log().debug("answer dropped: the page that made the call is gone");
        return;
      }
      page->evaluate(script);
    };
    if (MainQueue::isMainThread())
      deliver();
    else
      MainQueue::post(std::move(deliver));
  } catch (const std::exception& e) {
    log().error("{}{} [Line {}] ", e.what(), __PRETTY_FUNCTION__, __LINE__);
  }
}

}  // namespace corvane
