// Purchases in two runs of the shell on one home ("first", then "second"),
// and a helper that crashes mid-call. Store notifications go to one
// registered callback; every answer through its request's callback.
(function () {
  var iap = corvane.iap, expect = E2E.expect;
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
  function failed(error) { return { success: false, error: error }; }
  window.onStore = function (n) { R.notices.push(n); };
  // The notices that came while `request` ran, and its answer.
  async function noticed(request) {
    var n = R.notices.length;
    var answer = await request;
    return { answer: answer, notices: R.notices.slice(n) };
  }

  async function first() {
    expect("payments without a helper", iap.canMakePayments(), false);
    expect("request without a helper, at once", askAtOnce("requestProducts", {}),
      failed("no purchase helper is registered"));
    expect("register callback", JSON.parse(iap.registerCallback(JSON.stringify({ callback: "onStore" }))),
      { success: true });
    expect("register", await ask("registerHelper", { path: "/PlugIns/SampleStore.bundle" }),
      { success: true, name: "SampleStore", canMakePayments: true });
    expect("payments", iap.canMakePayments(), true);
    expect("buy before start", await ask("buy", { productId: COINS }),
      failed("the store is not started: call startService first"));
    var start = await ask("startService", {});
    expect("start", [start.success, start.products], [true, 3]);
    var products = await ask("requestProducts", { productIds: [COINS, PRO, "com.nobody"] });
    expect("products", [products.products.length, products.products[0].productId, products.products[0].title,
      products.products[1].formattedPrice, products.invalidProductIds], [2, COINS, "100 Coins", "4.99 EUR",
      ["com.nobody"]]);
    expect("price", await ask("getPrice", { productId: PRO }),
      { success: true, productId: PRO, price: "4.99", currency: "EUR", formattedPrice: "4.99 EUR" });
    // Purchases reach the registered callback before the answer comes.
    var coins = await noticed(ask("buy", { productId: COINS, quantity: 2 }));
    expect("buy coins", [coins.answer.success, coins.answer.useCount], [true, 200]);  // two purses of 100 uses
    var cn = coins.notices;
    expect("buy coins notices", [cn.length, cn[0], cn[1] && cn[1].type, cn[1] && cn[1].transactionId],
      [2, { type: "purchasing", productId: COINS, quantity: 2 }, "purchased", coins.answer.transactionId]);
    R.buyPro = await noticed(ask("buy", { productId: PRO }));
    expect("buy pro", R.buyPro.notices[1] && R.buyPro.notices[1].type, "purchased");
    expect("buy pro again", await ask("buy", { productId: PRO }), failed(PRO + " is already purchased: restore it"));
    expect("use", (await ask("useProduct", { productId: COINS, count: 50 })).useCount, 150);
    expect("use too many", await ask("useProduct", { productId: COINS, count: 1000 }),
      failed("only 150 uses of " + COINS + " are left"));
    expect("use count", (await ask("getUseCount", { productId: COINS })).useCount, 150);
    var restore = await noticed(ask("restore", {}));
    expect("restore", restore.answer, { success: true, restored: 1 });
    var rn = restore.notices;
    expect("restore notices", [rn.length, rn[0] && rn[0].type, rn[0] && rn[0].productId, rn[1]],
      [2, "restored", PRO, { type: "restoreCompleted", count: 1 }]);
  }

  async function second() {
    // A new run: the store is read again from the user's files; "/plugin/"
    // names the PlugIns folder.
    iap.registerCallback(JSON.stringify({ callback: "onStore" }));
    expect("register", (await ask("registerHelper", { path: "/plugin/SampleStore.bundle" })).success, true);
    await ask("startService", {});
    expect("use count", (await ask("getUseCount", { productId: COINS })).useCount, 150);
    R.restore = await noticed(ask("restore", {}));

    // A helper that dies in the middle of a request.
    expect("register crashing", (await ask("registerHelper", { path: "/PlugIns/TestStore.bundle" })).name, "TestStore");
    await ask("startService", {});
    var crashed = await noticed(ask("requestProducts", { mode: "crash" }));
    expect("crashed", crashed.answer,
      failed("the purchase helper TestStore ended unexpectedly (killed by signal 11 (SIGSEGV))"));
    expect("crash notices", crashed.notices, [{ type: "beforeCrash" }]);
    expect("payments after the crash", iap.canMakePayments(), false);
    // The next request starts the helper again, and its service first.
    var after = await ask("requestProducts", {});
    expect("after the crash", [after.success, after.started], [true, true]);
    expect("the shell still answers", corvane.app.getAppName(), "BridgeTest");

    // A registration that fails leaves no helper: nothing goes to the last one.
    expect("register missing", (await ask("registerHelper", { path: "/PlugIns/Missing.bundle" })).success, false);
    var missing = await ask("requestProducts", {});
    expect("after missing", [missing.success, String(missing.error).indexOf("can't find the purchase helper") >= 0],
      [false, true]);
  }

  E2E.run(async function () {
    await (phase === "second" ? second() : first());
    R.mismatches = E2E.mismatches;
    return R;
  });
})();
