#include "rate/RateReminder.h"

#include "app/Bundle.h"
#include "app/Log.h"
#include "app/UserDefaults.h"
#include "app/Utils.h"

#include <glib.h>
#include <libsoup/soup.h>

#include <chrono>
#include <vector>

namespace corvane {
namespace {

// Runs `task` on the main loop from any thread.
void onMainLoop(std::function<void()> task, int priority = G_PRIORITY_DEFAULT) {
  g_idle_add_full(
      priority,
      [](gpointer d) -> gboolean {
        (*static_cast<std::function<void()>*>(d))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(task)), [](gpointer d) { delete static_cast<std::function<void()>*>(d); });
}

// Runs `task` once after `seconds` on the main loop.
void afterSeconds(uint64_t seconds, std::function<void()> task) {
  auto* holder = new std::function<void()>(std::move(task));
  auto fire = [](gpointer d) -> gboolean {
    (*static_cast<std::function<void()>*>(d))();
    return G_SOURCE_REMOVE;
  };
  auto release = [](gpointer d) { delete static_cast<std::function<void()>*>(d); };
  // Milliseconds up to about a day (precise); beyond that whole seconds,
  // which also covers delays longer than a guint of milliseconds holds.
  if (seconds <= 86400)
    g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(seconds * 1000), fire, holder, release);
  else
    g_timeout_add_seconds_full(G_PRIORITY_DEFAULT, seconds > G_MAXUINT ? G_MAXUINT : static_cast<guint>(seconds),
                               fire, holder, release);
}

// One direct GET: the session, the message, a limit for the whole exchange
// and a bounded buffer for the body. Lives until its completion runs.
struct DirectRequest {
  std::shared_ptr<RateReminder> owner;
  std::function<void(const std::string& body)> done;
  std::function<void(const std::string& error)> failed;
  SoupSession* session = nullptr;
  SoupMessage* message = nullptr;
  GCancellable* cancellable = g_cancellable_new();
  guint limitSource = 0;
  bool timedOut = false;
  unsigned limitSeconds = 0;
  std::vector<char> body;

  ~DirectRequest() {
    if (limitSource) g_source_remove(limitSource);
    g_clear_object(&cancellable);
    g_clear_object(&message);
    g_clear_object(&session);
  }
  void fail(GError* error) {
    std::string what = timedOut ? "no answer within " + std::to_string(limitSeconds) + " s"
                                : (error ? error->message : "unknown error");
    g_clear_error(&error);
    failed(what);
    delete this;
  }
};

void bodyRead(GObject* source, GAsyncResult* result, gpointer data) {
  auto* r = static_cast<DirectRequest*>(data);
  GError* error = nullptr;
  gsize got = 0;
  const bool ok = g_input_stream_read_all_finish(G_INPUT_STREAM(source), result, &got, &error);
  g_input_stream_close(G_INPUT_STREAM(source), nullptr, nullptr);
  g_object_unref(source);
  if (!ok) return r->fail(error);
  // The buffer holds one byte more than an answer may have.
  if (got >= r->body.size()) {
    r->failed("the answer is longer than " + std::to_string(r->body.size() - 1) + " bytes");
    delete r;
    return;
  }
  r->done(std::string(r->body.data(), got));
  delete r;
}

void responseArrived(GObject* source, GAsyncResult* result, gpointer data) {
  auto* r = static_cast<DirectRequest*>(data);
  GError* error = nullptr;
  GInputStream* in = soup_session_send_finish(SOUP_SESSION(source), result, &error);
  if (!in) return r->fail(error);
  const guint status = soup_message_get_status(r->message);
  if (status < 200 || status >= 300) {
    g_object_unref(in);
    const char* phrase = soup_message_get_reason_phrase(r->message);
    r->failed("HTTP " + std::to_string(status) + (phrase && *phrase ? std::string(" ") + phrase : std::string()));
    delete r;
    return;
  }
  g_input_stream_read_all_async(in, r->body.data(), r->body.size(), G_PRIORITY_DEFAULT, r->cancellable, bodyRead, r);
}

}  // namespace

RateEnvironment rateEnvironmentFor(const Utils& utils) {
  RateEnvironment env;
  env.appName = utils.getAppName();
  env.version = utils.getAppVersion();
  env.serverAddress = utils.getEnableUseDebugHost() ? utils.getDebugServer() : utils.getReleaseServer();
  env.sandboxed = utils.getSandboxEnable();
  env.defaults = &utils.userDefaults();
  return env;
}

std::shared_ptr<RateReminder> RateReminder::create(RateEnvironment environment) {
  return std::shared_ptr<RateReminder>(new RateReminder(std::move(environment)));
}

bool RateReminder::common_native_app_rate_remind(const std::optional<nlohmann::json>& appExInfo) {
  UserDefaults& defaults = *env_.defaults;
  if (!env_.sandboxed && !defaults.boolForKey(rate::kEnableInNoSandboxKey)) {
    log().debug("rate reminder: off outside a sandbox (\"{}\" is not set)", rate::kEnableInNoSandboxKey);
    return false;
  }
  if (defaults.boolForKey(rate::kCloseKey)) {
    log().debug("rate reminder: switched off by \"{}\"", rate::kCloseKey);
    return false;
  }
  if (!appExInfo || !appExInfo->is_object() || !appExInfo->contains("enableNativeRate") ||
      !jsonBoolValue((*appExInfo)["enableNativeRate"])) {
    log().debug("rate reminder: \"enableNativeRate\" is off");
    return false;
  }
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  const std::string address = rate::queryAddress(env_.serverAddress, env_.appName, env_.version, now);
  // The page's load comes first: the request leaves when the main loop has
  // nothing more urgent to do.
  onMainLoop([self = shared_from_this(), address] { self->sendRequest(address); }, G_PRIORITY_LOW);
  return true;
}

void RateReminder::sendRequest(const std::string& address) {
  if (env_.agent) {
    auto self = shared_from_this();
    const bool sent = env_.agent(
        rate::agentMessage(address),
        [self](const nlohmann::json& reply) {
          std::string info;
          auto text = rate::agentAnswerText(reply, &info);
          // The reply may come on the connection's own thread.
          onMainLoop([self, info, text] {
            log().info("agentHelper info = {}", info);
            if (text) self->handleAnswerText(*text);
          });
        },
        // A helper that is missing would otherwise switch the reminder off
        // for good: the server is asked directly instead.
        [self, address](const std::string& why) {
          onMainLoop([self, address, why] {
            log().info("rate reminder: the agent helper cannot be reached ({}); asking the server directly", why);
            self->getDirectly(address);
          });
        });
    if (sent) return;
  }
  getDirectly(address);
}

void RateReminder::getDirectly(const std::string& address) {
  auto self = shared_from_this();
  auto failed = [](const std::string& error) { log().info("--STHTTPRequest error {}", error); };
  GError* error = nullptr;
  GUri* uri = g_uri_parse(address.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), &error);
  if (!uri) {
    failed(address + ": " + (error ? error->message : "not an address"));
    g_clear_error(&error);
    return;
  }
  const std::string scheme = g_uri_get_scheme(uri);
  if ((scheme != "http" && scheme != "https") || !g_uri_get_host(uri) || !*g_uri_get_host(uri)) {
    g_uri_unref(uri);
    failed(address + ": not an http or https address");
    return;
  }
  auto* r = new DirectRequest;
  r->owner = self;
  r->done = [self](const std::string& body) { self->handleAnswerText(body); };
  r->failed = failed;
  r->body.resize(env_.maxAnswerBytes + 1);
  r->limitSeconds = env_.requestTimeoutSeconds;
  r->session = soup_session_new();
  r->message = soup_message_new_from_uri(SOUP_METHOD_GET, uri);
  g_uri_unref(uri);
  r->limitSource = g_timeout_add_seconds(
      env_.requestTimeoutSeconds,
      [](gpointer d) -> gboolean {
        auto* req = static_cast<DirectRequest*>(d);
        req->limitSource = 0;
        req->timedOut = true;
        g_cancellable_cancel(req->cancellable);
        return G_SOURCE_REMOVE;
      },
      r);
  soup_session_send_async(r->session, r->message, G_PRIORITY_DEFAULT, r->cancellable, responseArrived, r);
}

void RateReminder::handleAnswerText(const std::string& text) {
  const rate::Answer answer = rate::parseAnswer(text);
  const rate::LaunchDecision d = rate::countLaunch(*env_.defaults, env_.version, answer);
  if (!d.counted) {
    log().info("rate reminder: launch not counted ({})",
               !answer.enableRate ? "the server does not ask for it" : "the answer has no \"ReviewURL\"");
    return;
  }
  log().info("rate reminder: launch {} of version {} counted", d.storedCount + 1, env_.version);
  if (!d.showAfterSeconds) return;
  log().info("rate reminder: the dialog follows in {} s", *d.showAfterSeconds);
  afterSeconds(*d.showAfterSeconds, [self = shared_from_this(), raw = answer.raw] { self->startRateAppRemind(raw); });
}

void RateReminder::startRateAppRemind(const nlohmann::json& answerObject) {
  const rate::Answer answer = rate::answerFromObject(answerObject);
  auto plan = rate::planDialog(*env_.defaults, env_.appName, env_.version, answer);
  if (!plan) {
    log().info("rate reminder: the user asked not to be reminded for version {}", env_.version);
    return;
  }
  std::string titles;
  for (rate::Button b : plan->buttons) titles += std::string(titles.empty() ? "" : ", ") + rate::buttonTitle(b);
  log().info("rate reminder: dialog \"{}\" with {}", plan->windowTitle, titles);
  if (!env_.showDialog) return;
  env_.showDialog(*plan, [self = shared_from_this(), plan = *plan, answer](rate::Button button) {
    self->choose(plan, answer, button);
  });
}

void RateReminder::choose(const rate::DialogPlan& plan, const rate::Answer& answer, rate::Button button) {
  log().info("button = {}", rate::buttonCode(plan, button));
  auto target = rate::applyChoice(*env_.defaults, env_.version, answer, button);
  if (!target) return;
  std::string why;
  auto address = rate::webAddressToOpen(*target, &why);
  if (!address) {
    log().warn("rate reminder: not opening \"{}\": {}", *target, why);
    return;
  }
  if (env_.openAddress) env_.openAddress(*address);
}

}  // namespace corvane
