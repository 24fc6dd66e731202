#include "services/IAP.h"

#include "app/Bundle.h"
#include "app/CommandLine.h"
#include "app/Log.h"
#include "app/Utils.h"
#include "app/XdgDirs.h"
#include "bridge/UtilTool.h"
#include "plugins/PluginTasks.h"
#include "plugins/PurchaseHelper.h"

#include <algorithm>
#include <cmath>
#include <map>

#ifndef CORVANE_PURCHASE_HOST_RELATIVE_DIRS
#define CORVANE_PURCHASE_HOST_RELATIVE_DIRS "../libexec/corvane"
#endif

namespace corvane {

// Notices that come before the page registered its callback wait for it
// (a store may report pending transactions as soon as it starts), up to a
// bound, oldest dropped first.
struct IAP::Notices {
  std::weak_ptr<PageScript> page;
  std::string callback;
  std::deque<nlohmann::json> held;
  static constexpr size_t kMaxHeld = 256;

  void deliver(const nlohmann::json& notice) {
    if (callback.empty()) {
      if (held.size() == kMaxHeld) {
        log().info("iap: no callback registered; dropping the oldest held store notification");
        held.pop_front();
      }
      held.push_back(notice);
      return;
    }
    if (auto view = page.lock()) EvalJsWithWebView(view, callback, notice);
  }
};

namespace {

constexpr const char* kHostProgram = "corvane-purchase-host";
constexpr const char* kNoHelper = "no purchase helper is registered";

// One host per helper bundle in the process, shared by its pages.
std::map<std::string, std::weak_ptr<PurchaseHelper>>& sharedHelpers() {
  static std::map<std::string, std::weak_ptr<PurchaseHelper>> helpers;
  return helpers;
}

std::string resolvedOr(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out(real);
  free(real);
  return out;
}

std::string folderName(const std::string& path) {
  gchar* base = g_path_get_basename(path.c_str());
  std::string name = base;
  g_free(base);
  return name;
}

// The params of a method whose argument must be a JSON text; nullopt (and
// the error line, with no answer, as no callback can be read) otherwise.
std::optional<nlohmann::json> paramsOf(const char* method, const nlohmann::json& argument) {
  if (!argument.is_string()) {
    log().info("{} [Line {}] error = {}", method, __LINE__, "the argument is not a JSON text");
    return std::nullopt;
  }
  return UtilTool::paramsDictionary(argument);
}

}  // namespace

IAP::IAP(std::shared_ptr<PageScript> page) : page_(std::move(page)), notices_(std::make_shared<Notices>()) {
  notices_->page = page_;
}

IAP::~IAP() {
  if (helper_ && observer_) helper_->removeObserver(observer_);
}

std::string IAP::dataFolder(const std::string& identifier, const std::string& helperBundle) {
  std::string name = folderName(helperBundle);
  if (name.size() > 7 && name.compare(name.size() - 7, 7, ".bundle") == 0) name.resize(name.size() - 7);
  return xdg::dataHome() + "/corvane/" + identifierFileName(identifier) + "/Purchases/" + name;
}

void IAP::answer(const std::string& callback, const nlohmann::json& result) {
  EvalJsWithWebView(page_, callback, result);
}

nlohmann::json IAP::registerCallback(const nlohmann::json& argument) {
  auto params = paramsOf("-[IAP registerCallback:]", argument);
  nlohmann::json result = UtilTool::resultDictionary();
  if (!params) return result.dump();
  notices_->callback = UtilTool::callbackName(*params);
  result["success"] = true;
  // What waited for a callback goes to it now, in order.
  if (!notices_->callback.empty()) {
    auto held = std::move(notices_->held);
    notices_->held.clear();
    for (const auto& notice : held) notices_->deliver(notice);
  }
  return result.dump();
}

void IAP::registerHelperBundle(const nlohmann::json& argument) {
  constexpr const char* kMethod = "-[IAP registerHelperBundle:]";
  auto params = paramsOf(kMethod, argument);
  if (!params) return;
  const std::string callback = UtilTool::callbackName(*params);
  const std::string tool = PluginTasks::rewriteToolPath(UtilTool::stringValue(*params, "path"));
  // The page asked for another helper: whatever happens, requests never go
  // to the one it had before.
  if (helper_ && observer_) helper_->removeObserver(observer_);
  helper_.reset();
  observer_ = 0;
  if (tool.empty()) {
    answer(callback, {{"success", false}, {"error", "no \"path\" names the purchase helper"}});
    return;
  }
  const Bundle& bundle = Utils::sharedInstance().bundle();
  // The host checks that the helper lies inside the package and loads it.
  const std::string bundlePath = bundle.contentsPath() + tool;
  if (Utils::namesNoFile(bundlePath)) {
    answer(callback, {{"success", false}, {"error", "can't find the purchase helper " + tool}});
    return;
  }
  const auto host = filesBesideExecutable({CORVANE_PURCHASE_HOST_RELATIVE_DIRS}, kHostProgram);
  if (host.empty()) {
    log().error("{} [Line {}] error = the purchase host {} is not installed", kMethod, __LINE__, kHostProgram);
    answer(callback, {{"success", false}, {"error", std::string("the purchase host ") + kHostProgram + " is not installed"}});
    return;
  }
  const std::string key = resolvedOr(bundlePath);
  std::shared_ptr<PurchaseHelper> helper = sharedHelpers()[key].lock();
  if (!helper) {
    PurchaseHelper::Options options;
    options.hostProgram = host.front();
    options.contentsPath = bundle.contentsPath();
    options.bundlePath = bundlePath;
    options.dataDir = dataFolder(bundle.identifier(), key);
    options.appIdentifier = bundle.identifier();
    helper = PurchaseHelper::create(std::move(options));
    sharedHelpers()[key] = helper;
  }
  if (auto timeout = params->find("timeout"); timeout != params->end() && timeout->is_number() && *timeout > 0)
    helper->setTimeout(static_cast<unsigned>(std::clamp(std::ceil(timeout->get<double>()), 1.0, 600.0)));
  helper_ = helper;
  observer_ = helper_->addObserver([notices = notices_](const nlohmann::json& n) { notices->deliver(n); });
  log().info("iap: registering the purchase helper {}", tool);
  helper_->start([page = std::weak_ptr<PageScript>(page_), callback](nlohmann::json result) {
    if (auto view = page.lock()) EvalJsWithWebView(view, callback, result);
  });
}

bool IAP::canMakePayments() { return helper_ && helper_->canMakePayments(); }

void IAP::forward(const char* method, const std::string& op, const nlohmann::json& argument) {
  auto params = paramsOf(method, argument);
  if (!params) return;
  const std::string callback = UtilTool::callbackName(*params);
  if (!helper_) {
    answer(callback, {{"success", false}, {"error", kNoHelper}});
    return;
  }
  params->erase("callback");
  helper_->request(op, std::move(*params),
                   [page = std::weak_ptr<PageScript>(page_), callback, method](nlohmann::json result) {
                     if (!result.value("success", false))
                       log().info("{} [Line {}] error = {}", method, __LINE__, result.value("error", ""));
                     if (auto view = page.lock()) EvalJsWithWebView(view, callback, result);
                   });
}

void IAP::startService(const nlohmann::json& a) { forward("-[IAP startService:]", "startService", a); }
void IAP::requestProducts(const nlohmann::json& a) { forward("-[IAP requestProducts:]", "requestProducts", a); }
void IAP::buyProduct(const nlohmann::json& a) { forward("-[IAP buyProduct:]", "buy", a); }
void IAP::restorePurchases(const nlohmann::json& a) { forward("-[IAP restorePurchases:]", "restore", a); }
void IAP::getPrice(const nlohmann::json& a) { forward("-[IAP getPrice:]", "getPrice", a); }
void IAP::getUseCount(const nlohmann::json& a) { forward("-[IAP getUseCount:]", "getUseCount", a); }
void IAP::useProduct(const nlohmann::json& a) { forward("-[IAP useProduct:]", "useProduct", a); }

const ServiceClass& IAP::serviceClass() const {
  // Every method is visible, no field is.
  static const ServiceClass cls = ServiceClass::Builder<IAP>("IAP")
                                      .method("registerCallback:", &IAP::registerCallback)
                                      .method("registerHelperBundle:", &IAP::registerHelperBundle)
                                      .method("canMakePayments", &IAP::canMakePayments)
                                      .method("startService:", &IAP::startService)
                                      .method("requestProducts:", &IAP::requestProducts)
                                      .method("buyProduct:", &IAP::buyProduct)
                                      .method("restorePurchases:", &IAP::restorePurchases)
                                      .method("getPrice:", &IAP::getPrice)
                                      .method("getUseCount:", &IAP::getUseCount)
                                      .method("useProduct:", &IAP::useProduct)
                                      .scriptNames({{"registerCallback:", "registerCallback"},
                                                    {"registerHelperBundle:", "registerHelper"},
                                                    {"canMakePayments", "canMakePayments"},
                                                    {"startService:", "startService"},
                                                    {"requestProducts:", "requestProducts"},
                                                    {"buyProduct:", "buy"},
                                                    {"restorePurchases:", "restore"},
                                                    {"getPrice:", "getPrice"},
                                                    {"getUseCount:", "getUseCount"},
                                                    {"useProduct:", "useProduct"}})
                                      .build();
  return cls;
}

}  // namespace corvane
