// corvane-purchase-host: runs one purchase helper bundle for the shell, in
// a process of its own, so that a helper that crashes or hangs never takes
// the shell (or the page) with it. The shell starts it with the package's
// Contents folder, the helper's bundle path, the helper's data folder and
// the application's identifier, and speaks JSON lines with it over its
// standard input and output (plugins/PurchaseWire.h).
//
// The helper is loaded with the plug-in bundles' own loader (PluginBundle):
// only a bundle inside Contents, only a library inside the bundle.
#include "app/Log.h"
#include "plugins/PluginBundle.h"
#include "plugins/PurchaseWire.h"

#include <nlohmann/json.hpp>

#include <dlfcn.h>
#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <string>

using nlohmann::json;

struct corvane_purchase_result {
  std::optional<json> value;
};

namespace {
// The result of the request being served: set_result takes no other, so a
// helper that answers late (after returning, from another thread) is told
// so instead of writing into a request that is over.
std::mutex g_resultLock;
corvane_purchase_result* g_serving = nullptr;
}  // namespace

namespace corvane {
namespace {

struct Arguments {
  std::string contents, bundle, data, appId;
};

// The shell's channel: private copies of standard input and output, taken
// before any helper code runs. The helper's own prints go to standard error
// (the shell's log) and can never corrupt a line.
int g_in = -1;
int g_out = -1;
std::mutex g_outLock;

void sendLine(const json& message) {
  std::string line = message.dump(-1, ' ', false, json::error_handler_t::replace);
  line += '\n';
  std::lock_guard<std::mutex> hold(g_outLock);
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(g_out, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(0);  // the shell is gone
    done += static_cast<size_t>(n);
  }
}

std::optional<json> objectFrom(const char* text) {
  if (!text) return std::nullopt;
  json value = json::parse(text, nullptr, false);
  if (value.is_discarded() || !value.is_object()) return std::nullopt;
  return value;
}

int hostSetResult(corvane_purchase_result* result, const char* objectJson) {
  auto value = objectFrom(objectJson);
  std::lock_guard<std::mutex> hold(g_resultLock);
  if (!result || result != g_serving || !value) return -1;
  result->value = std::move(*value);
  return 0;
}

int hostNotify(const char* objectJson) {
  auto value = objectFrom(objectJson);
  if (!value) return -1;
  sendLine({{"event", std::move(*value)}});
  return 0;
}

void hostLog(const char* line) { log().info("{}", line ? line : ""); }

std::optional<Arguments> readArguments(int argc, char** argv) {
  Arguments a;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--contents") a.contents = argv[i + 1];
    else if (key == "--bundle") a.bundle = argv[i + 1];
    else if (key == "--data") a.data = argv[i + 1];
    else if (key == "--app-id") a.appId = argv[i + 1];
    else return std::nullopt;
  }
  if (argc % 2 != 1 || a.contents.empty() || a.bundle.empty() || a.data.empty()) return std::nullopt;
  return a;
}

[[noreturn]] void refuse(const std::string& why) {
  log().error("purchase helper refused: {}", why);
  sendLine({{"refused", why}});
  _exit(1);
}

// The helper's table at the host's size, zero past the helper's own size,
// so operations a helper was built without read as absent.
corvane_purchase_helper g_helper{};

const corvane_purchase_helper& loadHelper(const Arguments& a, const corvane_purchase_host& host) {
  // Loading a library runs its code: only what the package holds. The
  // bundle folder is opened once beneath Contents (no "..", no link out of
  // it) and the library is loaded through what was opened.
  const std::string prefix = a.contents + "/";
  if (a.bundle.compare(0, prefix.size(), prefix) != 0)
    refuse("the purchase helper " + a.bundle + " lies outside the application package");
  bool outside = false;
  FolderHandle folder;
  if (const FolderHandle contents(::open(a.contents.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)); contents)
    folder = openFolderBeneath(contents.get(), a.bundle.substr(prefix.size()), &outside);
  if (!folder && outside) refuse("the purchase helper " + a.bundle + " lies outside the application package");
  auto bundle = PluginBundle::bundleForFolder(folder);
  if (!bundle) refuse("can't find the purchase helper " + a.bundle);
  const std::string cannot = "can't load the purchase helper " + a.bundle + ": ";
  std::string why;
  void* handle = bundle->openExecutable(folder, &why);
  if (!handle) refuse(cannot + why);
  auto entry = reinterpret_cast<corvane_purchase_entry_fn>(dlsym(handle, CORVANE_PURCHASE_ENTRY_SYMBOL));
  if (!entry) refuse(cannot + "the library exports no " + CORVANE_PURCHASE_ENTRY_SYMBOL);
  const corvane_purchase_helper* helper = entry(&host);
  if (!helper) refuse(cannot + "it refused to load");
  if (helper->struct_size < offsetof(corvane_purchase_helper, name) + sizeof(helper->name))
    refuse(cannot + "its table is too small");
  if (helper->api_version == 0 || helper->api_version > CORVANE_PURCHASE_API_VERSION)
    refuse(cannot + "it needs interface version " + std::to_string(helper->api_version));
  std::memcpy(&g_helper, helper, std::min<size_t>(helper->struct_size, sizeof g_helper));
  return g_helper;
}

bool canMakePayments(const corvane_purchase_helper& helper) {
  return helper.can_make_payments && helper.can_make_payments() != 0;
}

json serve(const corvane_purchase_helper& helper, const json& request) {
  json reply = json::object();
  if (request.contains("id")) reply["id"] = request["id"];
  const std::string op = request.value("op", "");
  const purchase::Operation* operation = purchase::operationNamed(op);
  if (op == "canMakePayments") {
    reply["result"] = json::object();
  } else if (!operation) {
    reply["error"] = "unknown request \"" + op + "\"";
  } else if (!(helper.*(operation->member))) {
    reply["error"] = std::string("the purchase helper ") + (helper.name ? helper.name : "") + " does not offer " + op;
  } else {
    const json params = request.contains("params") && request["params"].is_object() ? request["params"] : json::object();
    const std::string paramsText = params.dump(-1, ' ', false, json::error_handler_t::replace);
    corvane_purchase_result result;
    char buffer[1024] = "";
    corvane_error error{buffer, sizeof buffer};
    {
      std::lock_guard<std::mutex> hold(g_resultLock);
      g_serving = &result;
    }
    const int status = (helper.*(operation->member))(paramsText.c_str(), &result, &error);
    {
      std::lock_guard<std::mutex> hold(g_resultLock);
      g_serving = nullptr;
    }
    if (status != 0)
      reply["error"] = buffer[0] ? std::string(buffer) : op + " failed";
    else
      reply["result"] = result.value.value_or(json::object());
  }
  reply["canMakePayments"] = canMakePayments(helper);
  return reply;
}

}  // namespace
}  // namespace corvane

int main(int argc, char** argv) {
  using namespace corvane;
  // The host lives no longer than the shell that started it, even when a
  // helper operation never returns.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() == 1) return 1;
  signal(SIGPIPE, SIG_IGN);

  g_in = fcntl(0, F_DUPFD_CLOEXEC, 3);
  g_out = fcntl(1, F_DUPFD_CLOEXEC, 3);
  if (g_in < 0 || g_out < 0) return 1;
  const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null >= 0) dup2(null, 0);
  dup2(2, 1);

  const auto args = readArguments(argc, argv);
  if (!args) refuse("usage: corvane-purchase-host --contents DIR --bundle PATH --data DIR [--app-id ID]");
  if (g_mkdir_with_parents(args->data.c_str(), 0700) != 0)
    refuse("can't make the purchase helper's data folder " + args->data + ": " + std::strerror(errno));

  static const corvane_purchase_host host = {
      sizeof(corvane_purchase_host), CORVANE_PURCHASE_API_VERSION, args->bundle.c_str(), args->data.c_str(),
      args->appId.c_str(), hostSetResult, hostNotify, hostLog};
  const corvane_purchase_helper& helper = loadHelper(*args, host);
  sendLine({{"hello",
             {{"name", helper.name ? helper.name : ""},
              {"apiVersion", helper.api_version},
              {"canMakePayments", canMakePayments(helper)}}}});

  purchase::LineReader reader;
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(g_in, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the shell let the helper go
    if (!reader.feed(chunk, static_cast<size_t>(n))) break;
    while (auto line = reader.next()) {
      json request = json::parse(*line, nullptr, false);
      if (request.is_discarded() || !request.is_object()) continue;
      sendLine(serve(helper, request));
    }
  }
  if (helper.stop_service) helper.stop_service();
  return 0;
}
