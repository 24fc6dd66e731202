// Purchases end to end through the sample purchase helper as the Showcase
// ships it (iap-pages/iap-checks.js); a second run on the same home finds
// what was bought, then meets a helper that crashes mid-call.
#include "ProcessHelpers.h"
#include "ShellSuite.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

using nlohmann::json;
using corvane::e2e::ShellHarness;
namespace fs = std::filesystem;

namespace {

constexpr const char* kCoins = "com.corvane.showcase.coins";
constexpr const char* kPro = "com.corvane.showcase.pro";

class IapE2E : public corvane::e2e::ShellSuite<IapE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<ShellHarness>();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_IAP_PAGES);
    const std::string plugins = shell->bundlePath() + "/Contents/PlugIns";
    fs::create_directories(plugins);
    fs::copy(CORVANE_SAMPLE_STORE, plugins + "/SampleStore.bundle", fs::copy_options::recursive);
    fs::copy(std::string(CORVANE_PLUGIN_FIXTURES) + "/TestStore.bundle", plugins + "/TestStore.bundle",
             fs::copy_options::recursive);

    // The second run (on the same home) only after a first that went well:
    // the suite's checks then see the first run's failure.
    auto env = shell->sessionEnv();
    env["CORVANE_E2E_PHASE"] = "first";
    runShell(env);
    if (status == 0 && !report->contains("pageError")) {
      first = *report;
      env["CORVANE_E2E_PHASE"] = "second";
      runShell(env);
    }
    // Every host ends with the shell that started it.
    hostsLeft = corvane::e2e::sh("pgrep -f 'corvane-purchase-hos[t].*" + shell->root() + "' || true");
  }

  static std::string storePath() {
    return shell->root() + "/home/.local/share/corvane/" + shell->identifier() + "/Purchases/SampleStore/store.json";
  }

  static inline json first;
  static inline std::string hostsLeft;
};

TEST_F(IapE2E, WithoutAHelperPaymentsAreImpossibleAndRequestsAnswerAnError) {
  EXPECT_EQ(first["canPayWithoutHelper"], false);
  EXPECT_EQ(first["withoutHelper"], (json{{"success", false}, {"error", "no purchase helper is registered"}}))
      << "answered before the call returned";
  EXPECT_EQ(first["registerCallback"], (json{{"success", true}}));
}

TEST_F(IapE2E, TheSampleStoreListsProductsAndPrices) {
  EXPECT_EQ(first["register"], (json{{"success", true}, {"name", "SampleStore"}, {"canMakePayments", true}}));
  EXPECT_EQ(first["canPay"], true);
  EXPECT_EQ(first["buyBeforeStart"],
            (json{{"success", false}, {"error", "the store is not started: call startService first"}}));
  EXPECT_EQ(first["start"]["success"], true);
  EXPECT_EQ(first["start"]["products"], 3);
  const json& products = first["products"];
  ASSERT_EQ(products["products"].size(), 2u) << products;
  EXPECT_EQ(products["products"][0]["productId"], kCoins);
  EXPECT_EQ(products["products"][0]["title"], "100 Coins");
  EXPECT_EQ(products["products"][1]["formattedPrice"], "4.99 EUR");
  EXPECT_EQ(products["invalidProductIds"], json{"com.nobody"});
  EXPECT_EQ(first["price"],
            (json{{"success", true}, {"productId", kPro}, {"price", "4.99"}, {"currency", "EUR"}, {"formattedPrice", "4.99 EUR"}}));
}

TEST_F(IapE2E, PurchasesReachTheRegisteredCallbackAndUseCountsAreKept) {
  const json& buy = first["buyCoins"];
  EXPECT_EQ(buy["success"], true);
  EXPECT_EQ(buy["useCount"], 200) << "two purses of 100 uses";
  const json& notices = first["buyCoinsNotices"];
  ASSERT_EQ(notices.size(), 2u) << "told before the answer came: " << notices;
  EXPECT_EQ(notices[0], (json{{"type", "purchasing"}, {"productId", kCoins}, {"quantity", 2}}));
  EXPECT_EQ(notices[1]["type"], "purchased");
  EXPECT_EQ(notices[1]["transactionId"], buy["transactionId"]);
  EXPECT_EQ(first["buyProNotices"][1]["type"], "purchased");
  EXPECT_EQ(first["buyProAgain"],
            (json{{"success", false}, {"error", std::string(kPro) + " is already purchased: restore it"}}));
  EXPECT_EQ(first["use"]["useCount"], 150);
  EXPECT_EQ(first["useTooMany"], (json{{"success", false}, {"error", std::string("only 150 uses of ") + kCoins + " are left"}}));
  EXPECT_EQ(first["useCount"]["useCount"], 150);
  EXPECT_EQ(first["restore"], (json{{"success", true}, {"restored", 1}}));
  ASSERT_EQ(first["restoreNotices"].size(), 2u) << first["restoreNotices"];
  EXPECT_EQ(first["restoreNotices"][0]["type"], "restored");
  EXPECT_EQ(first["restoreNotices"][0]["productId"], kPro);
  EXPECT_EQ(first["restoreNotices"][1], (json{{"type", "restoreCompleted"}, {"count", 1}}));
}

TEST_F(IapE2E, ANewRunRestoresWhatWasBoughtAndKeepsTheUseCounts) {
  EXPECT_EQ(r("register")["success"], true) << "\"/plugin/\" names the PlugIns folder";
  EXPECT_EQ(r("useCount")["useCount"], 150);
  ASSERT_EQ(r("restoreNotices").size(), 2u) << r("restoreNotices");
  EXPECT_EQ(r("restoreNotices")[0]["transactionId"], first["buyProNotices"][1]["transactionId"]);
  // The store on disk: private to the user, whole JSON.
  struct stat st {};
  ASSERT_EQ(stat(storePath().c_str(), &st), 0) << storePath();
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const json store = json::parse(corvane::test::readFile(storePath()));
  EXPECT_EQ(store["useCounts"][kCoins], 150);
  EXPECT_EQ(store["transactions"].size(), 1u);
}

TEST_F(IapE2E, AHelperThatCrashesMidCallAnswersWithAnErrorAndTheShellRunsOn) {
  EXPECT_EQ(r("registerCrashing")["name"], "TestStore");
  EXPECT_EQ(r("crashed"),
            (json{{"success", false},
                  {"error", "the purchase helper TestStore ended unexpectedly (killed by signal 11 (SIGSEGV))"}}));
  EXPECT_EQ(r("crashNotices"), (json{{{"type", "beforeCrash"}}}));
  EXPECT_EQ(r("canPayAfterCrash"), false);
  EXPECT_EQ(r("afterCrash")["success"], true) << "the next request starts the helper again";
  EXPECT_EQ(r("afterCrash")["started"], true) << "and starts its service again first";
  EXPECT_EQ(r("shellStillAnswers"), "BridgeTest");
  EXPECT_EQ(r("registerMissing")["success"], false);
  EXPECT_EQ(r("afterMissing")["success"], false) << "no request reaches the helper registered before";
  EXPECT_NE(r("afterMissing").value("error", "").find("can't find the purchase helper"), std::string::npos)
      << r("afterMissing");
  EXPECT_NE(log->find("the purchase helper TestStore ended unexpectedly"), std::string::npos);
  EXPECT_EQ(hostsLeft, "") << "purchase hosts outlived their shell";
}

}  // namespace
