#include "bridge/PageScript.h"

#include "app/Log.h"
#include "bridge/MainQueue.h"
#include "bridge/PageConnection.h"
#include "bridge/TextEncoding.h"
#include "bridge/UtilTool.h"

namespace corvane {

void PageScript::attach(PageConnection* connection) {
  connection_ = connection;
  ++generation_;
}

void PageScript::detach(PageConnection* connection) {
  if (connection_ == connection) connection_ = nullptr;
}

void PageScript::evaluate(const std::string& script) {
  if (!connection_) return;
  // The engine reads script text as UTF-8 and drops all of it when a byte
  // is amiss; native texts inside it (file names) need not be UTF-8.
  const std::string text =
      bridge::isWellFormedUtf8(script) ? script : bridge::wellFormedUtf8(script);
  if (auto* reply = connection_->currentReply()) {
    reply->actions.push_back({bridge::PageAction::kEvaluate, 0, text});
    return;
  }
  connection_->sendEvaluate(text);
}

void PageScript::callFunction(uint64_t handle, uint64_t generation, const nlohmann::json& args) {
  if (!connection_ || generation != generation_) return;
  std::string text = args.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  if (auto* reply = connection_->currentReply()) {
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

}  // namespace corvane
