// Purchases in two runs of the shell on one home ("first", then "second"),
// and a helper that crashes mid-call. Store notifications go to one
// registered callback; every answer through its request's callback.
(function () {
  var iap = corvane.iap;
  var R = { notices: [] };
  var phase = corvane.test.environment("CORVANE_E2E_PHASE");
  var COINS = "com.corvane.showcase.coins", PRO = "com.corvane.showcase.pro";
  // A request whose answer is a promise.
  function ask(method, params) {
    params = params || {};
    return E2E.answer(function (name) { params.callback = name; iap[method](JSON.stringify(params)); });
  }
  // An answer that came before the call returned.
  function askAtOnce(method, params) {
    var got = "no answer yet";
    window.iapAtOnce = function (r) { got = r; };
    params.callback = "iapAtOnce";
    iap[method](JSON.stringify(params));
    return got;
  }
  window.onStore = function (n) { R.notices.push(n); };
  function noticesSince(i) { return R.notices.slice(i); }

  async function first() {
    R.canPayWithoutHelper = iap.canMakePayments();
    R.withoutHelper = askAtOnce("requestProducts", {});
    R.registerCallback = JSON.parse(iap.registerCallback(JSON.stringify({ callback: "onStore" })));
    R.register = await ask("registerHelper", { path: "/PlugIns/SampleStore.bundle" });
    R.canPay = iap.canMakePayments();
    R.buyBeforeStart = await ask("buy", { productId: COINS });
    R.start = await ask("startService", {});
    R.products = await ask("requestProducts", { productIds: [COINS, PRO, "com.nobody"] });
    R.price = await ask("getPrice", { productId: PRO });
    var n = R.notices.length;
    R.buyCoins = await ask("buy", { productId: COINS, quantity: 2 });
    R.buyCoinsNotices = noticesSince(n);
    n = R.notices.length;
    R.buyPro = await ask("buy", { productId: PRO });
    R.buyProNotices = noticesSince(n);
    R.buyProAgain = await ask("buy", { productId: PRO });
    R.use = await ask("useProduct", { productId: COINS, count: 50 });
    R.useTooMany = await ask("useProduct", { productId: COINS, count: 1000 });
    R.useCount = await ask("getUseCount", { productId: COINS });
    n = R.notices.length;
    R.restore = await ask("restore", {});
    R.restoreNotices = noticesSince(n);
  }

  async function second() {
    // A new run: the store is read again from the user's files.
    iap.registerCallback(JSON.stringify({ callback: "onStore" }));
    R.register = await ask("registerHelper", { path: "/plugin/SampleStore.bundle" });
    R.start = await ask("startService", {});
    R.useCount = await ask("getUseCount", { productId: COINS });
    var n = R.notices.length;
    R.restore = await ask("restore", {});
    R.restoreNotices = noticesSince(n);

    // A helper that dies in the middle of a request.
    R.registerCrashing = await ask("registerHelper", { path: "/PlugIns/TestStore.bundle" });
    await ask("startService", {});
    n = R.notices.length;
    R.crashed = await ask("requestProducts", { mode: "crash" });
    R.crashNotices = noticesSince(n);
    R.canPayAfterCrash = iap.canMakePayments();
    R.afterCrash = await ask("requestProducts", {});
    R.shellStillAnswers = corvane.app.getAppName();

    // A registration that fails leaves no helper: nothing goes to the last one.
    R.registerMissing = await ask("registerHelper", { path: "/PlugIns/Missing.bundle" });
    R.afterMissing = await ask("requestProducts", {});
  }

  E2E.run(async function () {
    await (phase === "second" ? second() : first());
    return R;
  });
})();
