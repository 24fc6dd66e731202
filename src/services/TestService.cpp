#include "services/TestService.h"

#include "app/Utils.h"
#include "bridge/JSEventHelper.h"
#include "bridge/MainQueue.h"
#include "bridge/UtilTool.h"
#include "bridge/WebViewDelegate.h"

#include <gio/gio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace corvane {

TestService::TestService(std::shared_ptr<PageScript> webView) : webView_(std::move(webView)) {}

bool TestService::enabled() {
  const char* v = std::getenv("CORVANE_TEST_SERVICES");
  return v && std::string(v) == "1";
}

std::string TestService::echoParams(const nlohmann::json& argument) {
  auto params = UtilTool::paramsDictionary(argument);
  EvalJsWithWebView(webView_, UtilTool::callbackName(params), params);
  return Utils::convertDictionaryToJSON(params);
}

std::string TestService::callNow(const nlohmann::json& argument) {
  auto result = UtilTool::resultDictionary();
  auto params = UtilTool::paramsDictionary(argument);
  result["success"] = true;
  if (params.contains("value")) result["value"] = params["value"];
  EvalJsWithWebView(webView_, UtilTool::callbackName(params), result);
  return Utils::convertDictionaryToJSON(result);
}

void TestService::callFromThread(const nlohmann::json& argument) {
  auto params = UtilTool::paramsDictionary(argument);
  std::string callback = UtilTool::callbackName(params);
  int count = params.value("count", 0);
  std::thread([page = webView_, callback, count] {
    for (int i = 0; i < count; ++i) EvalJsWithWebView(page, callback, i);
  }).detach();
}

nlohmann::json TestService::echo(const nlohmann::json& value) { return value; }

bool TestService::keepFunction(std::shared_ptr<CallbackDelegate> function) {
  kept_ = std::move(function);
  return kept_ != nullptr;
}

void TestService::callKept(const nlohmann::json& value) {
  if (kept_) kept_->callWithParams({value});
}

void TestService::callKeptLater(const nlohmann::json& value) {
  std::weak_ptr<CallbackDelegate> weak = kept_;
  MainQueue::post([weak, value] {
    if (auto k = weak.lock()) k->callWithParams({value, "later"});
  });
}

void TestService::dropKept() { kept_.reset(); }

void TestService::fireEvent(const std::string& name) { JSEventHelper::triggerEvent(name, webView_); }

void TestService::fireEventWithData(const std::string& name, const nlohmann::json& data) {
  JSEventHelper::triggerEvent(name, data, webView_);
}

void TestService::setValue(const nlohmann::json& value) { value_ = value; }
nlohmann::json TestService::getValue() { return value_; }

void TestService::answerNextPanel(const std::string& button) { WebViewDelegate::answerNextPanel(button); }

std::string TestService::environment(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? v : "";
}

bool TestService::finish(const std::string& report) {
  const char* path = std::getenv("CORVANE_TEST_RESULT");
  bool ok = false;
  if (path) {
    const std::string tmp = std::string(path) + ".tmp";
    if (FILE* f = std::fopen(tmp.c_str(), "wb")) {
      ok = std::fwrite(report.data(), 1, report.size(), f) == report.size();
      ok = std::fflush(f) == 0 && fsync(fileno(f)) == 0 && ok;
      ok = std::fclose(f) == 0 && ok;
      ok = ok && std::rename(tmp.c_str(), path) == 0;
    }
  }
  // Leave the log lines of the page a moment to arrive, then quit.
  g_timeout_add(300, +[](gpointer) -> gboolean {
    if (GApplication* app = g_application_get_default()) g_application_quit(app);
    return G_SOURCE_REMOVE;
  }, nullptr);
  return ok;
}

void TestService::resize(double width, double height) {
  if (resizeWindow) resizeWindow(static_cast<int>(width), static_cast<int>(height));
}

const ServiceClass& TestService::serviceClass() const {
  static const ServiceClass cls = ServiceClass::Builder<TestService>("TestService")
                                      .method("echoParams:", &TestService::echoParams)
                                      .method("callNow:", &TestService::callNow)
                                      .method("callFromThread:", &TestService::callFromThread)
                                      .method("echo:", &TestService::echo)
                                      .method("keepFunction:", &TestService::keepFunction)
                                      .method("callKept:", &TestService::callKept)
                                      .method("callKeptLater:", &TestService::callKeptLater)
                                      .method("dropKept", &TestService::dropKept)
                                      .method("fireEvent:", &TestService::fireEvent)
                                      .method("fireEventWithData:withData:", &TestService::fireEventWithData)
                                      .method("setValue:", &TestService::setValue)
                                      .method("getValue", &TestService::getValue)
                                      .method("answerNextPanel:", &TestService::answerNextPanel)
                                      .method("environment:", &TestService::environment)
                                      .method("finish:", &TestService::finish)
                                      .method("resize:height:", &TestService::resize)
                                      .scriptNames({{"echoParams:", "echoParams"},
                                                    {"callNow:", "callNow"},
                                                    {"callFromThread:", "callFromThread"},
                                                    {"echo:", "echo"},
                                                    {"keepFunction:", "keepFunction"},
                                                    {"callKept:", "callKept"},
                                                    {"callKeptLater:", "callKeptLater"},
                                                    {"fireEvent:", "fireEvent"},
                                                    {"fireEventWithData:withData:", "fireEventWithData"},
                                                    {"setValue:", "setValue"},
                                                    {"answerNextPanel:", "answerNextPanel"},
                                                    {"environment:", "environment"},
                                                    {"finish:", "finish"},
                                                    {"resize:height:", "resize"}})
                                      .build();
  return cls;
}

}  // namespace corvane
