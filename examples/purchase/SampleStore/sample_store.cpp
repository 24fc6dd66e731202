// The sample purchase helper: a local store for development and the tests,
// written against corvane/purchase.h. Its products come from
// Contents/Resources/products.json in its bundle; what this user bought and
// the use counts of consumable products are kept in store.json in the
// helper's data folder, written atomically (a temporary file renamed over
// the old one) under a lock, so a crash or a second process never loses a
// purchase.
//
//   startService     reads the store; nothing is sold before it
//   requestProducts  the products asked for ("productIds"), or all of them
//   buy              notifies "purchasing", records the purchase, then
//                    notifies "purchased"; a consumable adds its "uses"
//                    (times the quantity) to its use count
//   restore          notifies "restored" for each product bought for good,
//                    then "restoreCompleted"
//   getPrice, getUseCount, useProduct (spends uses)
#include <corvane/purchase.h>

#include "app/AtomicFile.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

using nlohmann::json;

namespace {

const corvane_purchase_host* host = nullptr;
json products = json::object();  // by product id
std::string currency = "EUR";
std::string productsError;
std::string storePath;
bool started = false;

void logLine(const std::string& line) {
  if (host && host->log) host->log(("SampleStore: " + line).c_str());
}

int fail(corvane_error* error, const std::string& message) { return corvane_error_set(error, message.c_str()); }

int answer(corvane_purchase_result* result, const json& value) {
  host->set_result(result, value.dump().c_str());
  return 0;
}

void notify(const json& notice) { host->notify(notice.dump().c_str()); }

// A member of `object`, or null when it has none (indexing a const object
// by a missing key is undefined).
const json& member(const json& object, const char* key) {
  static const json none;
  auto it = object.find(key);
  return it == object.end() ? none : *it;
}

json paramsOf(const char* text) {
  json params = json::parse(text ? text : "{}", nullptr, false);
  return params.is_object() ? params : json::object();
}

std::string readFile(const std::string& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void loadProducts() {
  bool ok = false;
  const std::string path = std::string(host->bundle_path) + "/Contents/Resources/products.json";
  json list = json::parse(readFile(path, &ok), nullptr, false);
  if (!ok || list.is_discarded() || !list.is_object() || !list["products"].is_array()) {
    productsError = "the product list " + path + " cannot be read";
    logLine(productsError);
    return;
  }
  if (list["currency"].is_string()) currency = list["currency"];
  for (const auto& p : list["products"])
    if (p.is_object() && p["productId"].is_string()) products[p["productId"].get<std::string>()] = p;
}

// The store file, held under an exclusive lock while it is read, changed
// and written, so two processes of one user never overwrite each other.
class StoreLock {
 public:
  StoreLock() {
    fd_ = ::open((storePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~StoreLock() {
    if (fd_ >= 0) ::close(fd_);
  }

 private:
  int fd_ = -1;
};

// The user's store; an unreadable one is set aside (never overwritten)
// and the store starts empty.
json readStore() {
  json empty = {{"transactions", json::array()}, {"useCounts", json::object()}};
  bool ok = false;
  const std::string text = readFile(storePath, &ok);
  if (!ok) return empty;
  json store = json::parse(text, nullptr, false);
  if (store.is_discarded() || !store.is_object() || !store["transactions"].is_array() ||
      !store["useCounts"].is_object()) {
    const std::string aside = storePath + ".corrupt-" + std::to_string(std::time(nullptr));
    std::rename(storePath.c_str(), aside.c_str());
    logLine("the store was unreadable and is kept as " + aside);
    return empty;
  }
  return store;
}

bool writeStore(const json& store, std::string* why) {
  return corvane::writeFileAtomically(storePath, store.dump(2) + "\n", 0600, why);
}

std::string now() {
  char text[32];
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::string newTransactionId() {
  bool ok = false;
  std::string id = readFile("/proc/sys/kernel/random/uuid", &ok);
  while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
  if (!ok || id.empty()) id = std::to_string(std::time(nullptr)) + "-" + std::to_string(getpid());
  return "sample-" + id;
}

json describe(const json& p) {
  const std::string price = p.value("price", "0.00");
  return {{"productId", p["productId"]},
          {"title", p.value("title", "")},
          {"description", p.value("description", "")},
          {"type", p.value("type", "consumable")},
          {"price", price},
          {"currency", currency},
          {"formattedPrice", price + " " + currency}};
}

const json* productFor(const json& params, corvane_error* error, int* status) {
  const json& asked = member(params, "productId");
  const std::string id = asked.is_string() ? asked.get<std::string>() : "";
  auto it = products.find(id);
  if (it == products.end()) {
    *status = fail(error, id.empty() ? "no \"productId\"" : "unknown product " + id);
    return nullptr;
  }
  return &*it;
}

bool ownedForGood(const json& store, const std::string& id) {
  for (const auto& t : store["transactions"])
    if (t.value("productId", "") == id) return true;
  return false;
}

// ---- operations --------------------------------------------------------------

int canMakePayments(void) { return productsError.empty() ? 1 : 0; }

int startService(const char*, corvane_purchase_result* result, corvane_error* error) {
  if (!productsError.empty()) return fail(error, productsError);
  started = true;
  StoreLock lock;
  const json store = readStore();
  return answer(result, {{"products", products.size()}, {"transactions", store["transactions"].size()}});
}

int requestProducts(const char* paramsText, corvane_purchase_result* result, corvane_error*) {
  const json params = paramsOf(paramsText);
  json found = json::array(), invalid = json::array();
  if (const json& ids = member(params, "productIds"); ids.is_array()) {
    for (const auto& id : ids) {
      auto it = id.is_string() ? products.find(id.get<std::string>()) : products.end();
      if (it == products.end())
        invalid.push_back(id);
      else
        found.push_back(describe(*it));
    }
  } else {
    for (const auto& p : products) found.push_back(describe(p));
  }
  return answer(result, {{"products", found}, {"invalidProductIds", invalid}});
}

int buy(const char* paramsText, corvane_purchase_result* result, corvane_error* error) {
  if (!started) return fail(error, "the store is not started: call startService first");
  const json params = paramsOf(paramsText);
  int status = 0;
  const json* product = productFor(params, error, &status);
  if (!product) return status;
  const std::string id = (*product)["productId"];
  const json& asked = member(params, "quantity");
  const int64_t quantity = asked.is_number_integer() ? asked.get<int64_t>() : 1;
  if (quantity < 1 || quantity > 100) return fail(error, "the quantity must be 1 to 100");
  const bool consumable = product->value("type", "consumable") == "consumable";

  StoreLock lock;
  json store = readStore();
  if (!consumable && ownedForGood(store, id)) return fail(error, id + " is already purchased: restore it");
  notify({{"type", "purchasing"}, {"productId", id}, {"quantity", quantity}});
  const json transaction = {
      {"transactionId", newTransactionId()}, {"productId", id}, {"quantity", quantity}, {"date", now()}};
  if (consumable) {
    const int64_t uses = product->value("uses", 1);
    store["useCounts"][id] = store["useCounts"].value(id, int64_t{0}) + uses * quantity;
  } else {
    store["transactions"].push_back(transaction);
  }
  // Recorded first, told second: the page never hears of a purchase that
  // is not on disk.
  std::string why;
  if (!writeStore(store, &why)) {
    notify({{"type", "failed"}, {"productId", id}, {"error", why}});
    return fail(error, "the purchase could not be recorded: " + why);
  }
  json notice = transaction;
  notice["type"] = "purchased";
  if (consumable) notice["useCount"] = store["useCounts"][id];
  notify(notice);
  json answerValue = transaction;
  if (consumable) answerValue["useCount"] = store["useCounts"][id];
  return answer(result, answerValue);
}

int restore(const char*, corvane_purchase_result* result, corvane_error* error) {
  if (!started) return fail(error, "the store is not started: call startService first");
  StoreLock lock;
  const json store = readStore();
  int count = 0;
  for (const auto& t : store["transactions"]) {
    json notice = t;
    notice["type"] = "restored";
    notify(notice);
    ++count;
  }
  notify({{"type", "restoreCompleted"}, {"count", count}});
  return answer(result, {{"restored", count}});
}

int getPrice(const char* paramsText, corvane_purchase_result* result, corvane_error* error) {
  int status = 0;
  const json* product = productFor(paramsOf(paramsText), error, &status);
  if (!product) return status;
  const json d = describe(*product);
  return answer(result, {{"productId", d["productId"]},
                         {"price", d["price"]},
                         {"currency", d["currency"]},
                         {"formattedPrice", d["formattedPrice"]}});
}

int getUseCount(const char* paramsText, corvane_purchase_result* result, corvane_error* error) {
  int status = 0;
  const json* product = productFor(paramsOf(paramsText), error, &status);
  if (!product) return status;
  const std::string id = (*product)["productId"];
  StoreLock lock;
  const json store = readStore();
  return answer(result, {{"productId", id}, {"useCount", store["useCounts"].value(id, int64_t{0})}});
}

int useProduct(const char* paramsText, corvane_purchase_result* result, corvane_error* error) {
  const json params = paramsOf(paramsText);
  int status = 0;
  const json* product = productFor(params, error, &status);
  if (!product) return status;
  const std::string id = (*product)["productId"];
  const json& asked = member(params, "count");
  const int64_t count = asked.is_number_integer() ? asked.get<int64_t>() : 1;
  if (count < 1) return fail(error, "the count must be at least 1");
  StoreLock lock;
  json store = readStore();
  const int64_t left = store["useCounts"].value(id, int64_t{0});
  if (left < count) return fail(error, "only " + std::to_string(left) + " uses of " + id + " are left");
  store["useCounts"][id] = left - count;
  std::string why;
  if (!writeStore(store, &why)) return fail(error, "the use could not be recorded: " + why);
  return answer(result, {{"productId", id}, {"useCount", left - count}});
}

const corvane_purchase_helper helper = {
    sizeof(corvane_purchase_helper), CORVANE_PURCHASE_API_VERSION, "SampleStore",
    canMakePayments, startService, requestProducts, buy, restore, getPrice, getUseCount, useProduct,
    nullptr /* stop_service: every change is on disk already */};

}  // namespace

extern "C" CORVANE_PLUGIN_EXPORT const corvane_purchase_helper* corvane_purchase_helper_entry(
    const corvane_purchase_host* h) {
  if (!h || h->struct_size < sizeof(corvane_purchase_host)) return nullptr;
  host = h;
  storePath = std::string(h->data_dir) + "/store.json";
  loadProducts();
  return &helper;
}
