#pragma once
// The `iap` member: in-app purchases through a purchase helper bundle of
// the application package (include/corvane/purchase.h). The page registers
// the helper and a callback for the store's notifications; every request
// goes to the helper's host process (plugins/PurchaseHelper) and is
// answered later through the request's "callback", so no call ever waits
// for the helper. Without a helper "canMakePayments" answers false and
// every request answers an error at once.
//
// Pages of one process share the host of one helper: its notifications
// reach every page that registered it.
#include "bridge/PageScript.h"
#include "bridge/ServiceObject.h"

#include <deque>
#include <memory>
#include <string>

namespace corvane {

class PurchaseHelper;

class IAP : public ServiceObject {
 public:
  explicit IAP(std::shared_ptr<PageScript> page);
  ~IAP() override;
  const ServiceClass& serviceClass() const override;

  // Script methods; each takes the JSON text of a params object.
  nlohmann::json registerCallback(const nlohmann::json& argument);
  void registerHelperBundle(const nlohmann::json& argument);
  bool canMakePayments();
  void startService(const nlohmann::json& argument);
  void requestProducts(const nlohmann::json& argument);
  void buyProduct(const nlohmann::json& argument);
  void restorePurchases(const nlohmann::json& argument);
  void getPrice(const nlohmann::json& argument);
  void getUseCount(const nlohmann::json& argument);
  void useProduct(const nlohmann::json& argument);

  // $XDG_DATA_HOME/corvane/<identifier>/Purchases/<helper>: where a helper
  // keeps this user's purchases of this application.
  static std::string dataFolder(const std::string& identifier, const std::string& helperBundle);

  struct Notices;  // the registered callback and the notices held for it

 private:
  void forward(const char* method, const std::string& op, const nlohmann::json& argument);
  void answer(const std::string& callback, const nlohmann::json& result);

  std::shared_ptr<PageScript> page_;
  std::shared_ptr<Notices> notices_;
  std::shared_ptr<PurchaseHelper> helper_;
  uint64_t observer_ = 0;
};

}  // namespace corvane
