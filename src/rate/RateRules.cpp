#include "rate/RateRules.h"

#include "app/Bundle.h"
#include "app/JsonText.h"
#include "app/UserDefaults.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

namespace corvane::rate {
namespace {

std::string escaped(const std::string& text, const char* allowed) {
  gchar* e = g_uri_escape_string(text.c_str(), allowed, FALSE);
  std::string out = e ? e : "";
  g_free(e);
  return out;
}

// Everything that may stand in an address as it is; '%' too, so that an
// address escaped already keeps its escapes.
constexpr const char* kAddressChars = "!#$&'()*+,/:;=?@[]~%";

std::string lowerAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// An unsigned count of the answer: numbers (fractions cut, negatives 0) and
// numeric texts; anything else takes the default.
uint64_t unsignedValue(const nlohmann::json& object, const char* key, uint64_t fallback) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  double value;
  if (it->is_number_unsigned()) return it->get<uint64_t>();
  if (it->is_number()) {
    value = it->get<double>();
  } else if (it->is_string()) {
    const std::string text = it->get<std::string>();
    char* end = nullptr;
    value = g_ascii_strtod(text.c_str(), &end);
    if (end == text.c_str()) return 0;  // a text without a number reads as 0
  } else if (it->is_boolean()) {
    return it->get<bool>() ? 1 : 0;
  } else {
    return fallback;
  }
  if (!(value > 0) || std::isnan(value)) return 0;
  if (value >= 1.8e19) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(value);
}

bool boolValue(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && jsonBoolValue(*it);
}

std::optional<std::string> textValue(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// A scheme as RFC 3986 writes it, followed by ':'. "host:8080/path" is a
// host with a port, not a scheme.
std::optional<std::string> schemeOf(const std::string& address) {
  if (address.empty() || !std::isalpha(static_cast<unsigned char>(address[0]))) return std::nullopt;
  size_t i = 1;
  while (i < address.size() &&
         (std::isalnum(static_cast<unsigned char>(address[i])) || address[i] == '+' || address[i] == '-' ||
          address[i] == '.'))
    ++i;
  if (i >= address.size() || address[i] != ':') return std::nullopt;
  size_t j = i + 1;
  while (j < address.size() && std::isdigit(static_cast<unsigned char>(address[j]))) ++j;
  const bool port = j > i + 1 && (j == address.size() || address[j] == '/' || address[j] == '?' || address[j] == '#');
  if (port && address.compare(i + 1, 2, "//") != 0) return std::nullopt;
  return lowerAscii(address.substr(0, i));
}

}  // namespace

VersionKeys::VersionKeys(const std::string& version)
    : runTimes(version + "_RateInfo_runTimes"),
      clickRate(version + "_RateInfo_ClickRate"),
      clickDontRemind(version + "_RateInfo_ClickDontRemid") {}

std::string queryAddress(const std::string& server, const std::string& appName, const std::string& version,
                         double secondsSince1970) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%.6f", secondsSince1970);
  const std::string name = escaped(appName, nullptr);
  return escaped(server, kAddressChars) + "/services/get_enable_rate?appName=" + name +
         "&version=" + escaped(version, nullptr) + "&app_name=" + name + "&user_id=&token=&expire=&_=" + stamp;
}

nlohmann::json agentMessage(const std::string& address) {
  return {{"ms_type", "HTTP_QUEST"}, {"ms_obj", {{"url", address}}}};
}

std::optional<std::string> agentAnswerText(const nlohmann::json& reply, std::string* info) {
  nlohmann::json object = reply;
  if (reply.is_string()) object = parseJsonText(reply.get<std::string>()).value_or(nlohmann::json());
  if (info) info->clear();
  if (!object.is_object()) return std::nullopt;
  auto it = object.find("info");
  std::optional<std::string> text;
  if (it != object.end() && !it->is_null()) text = it->is_string() ? it->get<std::string>() : it->dump();
  if (info && text) *info = *text;
  if (!boolValue(object, "success")) return std::nullopt;
  return text;
}

Answer answerFromObject(const nlohmann::json& object) {
  Answer a;
  if (!object.is_object()) return a;
  a.raw = object;
  a.enableRate = boolValue(object, "enableRate");
  a.startRunningSecs = unsignedValue(object, "startRunningSecs", 90);
  a.maxRunTimes = unsignedValue(object, "maxRunTimes", 3);
  a.enableUserClose = boolValue(object, "enableUserClose");
  a.rateMessage = textValue(object, "rateMessage").value_or("");
  if (auto faq = textValue(object, "FAQURL"); faq && !faq->empty()) a.faqURL = faq;
  a.reviewURL = textValue(object, "ReviewURL");
  return a;
}

Answer parseAnswer(const std::string& text) {
  auto parsed = parseJsonText(text);
  return parsed ? answerFromObject(*parsed) : Answer{};
}

LaunchDecision countLaunch(UserDefaults& defaults, const std::string& version, const Answer& answer) {
  LaunchDecision d;
  if (!answer.enableRate || !answer.reviewURL) return d;
  const VersionKeys keys(version);
  const int64_t stored = defaults.integerForKey(keys.runTimes);
  d.storedCount = stored > 0 ? static_cast<uint64_t>(stored) : 0;
  if (d.storedCount > answer.maxRunTimes) d.showAfterSeconds = answer.startRunningSecs;
  d.counted = true;
  defaults.setObject(keys.runTimes, d.storedCount + 1);
  defaults.synchronize();
  return d;
}

const char* buttonTitle(Button button) {
  switch (button) {
    case Button::RateApp: return "Rate App";
    case Button::RemindLater: return "Remind Later";
    case Button::FAQ: return "FAQ";
    case Button::DontRemind: return "Don't remind";
  }
  return "";
}

std::optional<DialogPlan> planDialog(UserDefaults& defaults, const std::string& appName, const std::string& version,
                                     const Answer& answer) {
  const VersionKeys keys(version);
  bool wrote = false;
  for (const std::string* key : {&keys.clickRate, &keys.clickDontRemind}) {
    if (!defaults.objectForKey(*key)) {
      defaults.setObject(*key, false);
      wrote = true;
    }
  }
  if (wrote) defaults.synchronize();
  if (defaults.boolForKey(keys.clickDontRemind)) return std::nullopt;

  DialogPlan plan;
  plan.windowTitle = appName + " (Ver." + version + ") Tip Info";
  plan.message = answer.rateMessage.empty() ? kDefaultMessage : answer.rateMessage;
  plan.buttons = {Button::RateApp, Button::RemindLater};
  if (answer.faqURL) plan.buttons.push_back(Button::FAQ);
  if (defaults.boolForKey(keys.clickRate) || answer.enableUserClose) plan.buttons.push_back(Button::DontRemind);
  return plan;
}

long buttonCode(const DialogPlan& plan, Button button) {
  switch (button) {
    case Button::RateApp: return 1;
    case Button::RemindLater: return 0;
    case Button::FAQ: return -1;
    case Button::DontRemind: break;
  }
  auto it = std::find(plan.buttons.begin(), plan.buttons.end(), button);
  return 1000 + static_cast<long>(it - plan.buttons.begin());
}

std::optional<std::string> applyChoice(UserDefaults& defaults, const std::string& version, const Answer& answer,
                                       Button button) {
  const VersionKeys keys(version);
  std::optional<std::string> open;
  switch (button) {
    case Button::FAQ:
      open = answer.faqURL;
      break;
    case Button::RemindLater:
      break;
    case Button::RateApp:
      open = answer.reviewURL;
      defaults.setObject(keys.clickRate, true);
      break;
    case Button::DontRemind:
      defaults.setObject(keys.clickDontRemind, true);
      break;
  }
  defaults.synchronize();
  return open;
}

std::optional<std::string> webAddressToOpen(const std::string& address, std::string* why) {
  auto refuse = [why](std::string reason) -> std::optional<std::string> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  const char* ws = " \t\r\n";
  const size_t first = address.find_first_not_of(ws);
  if (first == std::string::npos) return refuse("the address is empty");
  const std::string trimmed = address.substr(first, address.find_last_not_of(ws) - first + 1);

  std::string full;
  if (auto scheme = schemeOf(trimmed)) {
    if (*scheme != "http" && *scheme != "https")
      return refuse("only http and https addresses are opened, not \"" + *scheme + ":\"");
    full = *scheme + trimmed.substr(scheme->size());
  } else {
    full = "https://" + trimmed;
  }
  full = escaped(full, kAddressChars);
  GError* error = nullptr;
  GUri* uri = g_uri_parse(full.c_str(), G_URI_FLAGS_NONE, &error);
  if (!uri) {
    std::string reason = error ? error->message : "not an address";
    g_clear_error(&error);
    return refuse(reason);
  }
  const char* host = g_uri_get_host(uri);
  const bool hasHost = host && *host;
  g_uri_unref(uri);
  if (!hasHost) return refuse("the address names no host");
  return full;
}

}  // namespace corvane::rate
