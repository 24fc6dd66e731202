// The tray icon end to end. The page builds its icon and menu before any
// status notifier watcher runs; the test's driver (TrayE2ETest.cpp) then
// starts a watcher and host of its own on the private bus and acts as a
// panel: it reads the item, clicks, scrolls, chooses menu items, restarts
// the watcher. Where the driver acts, the page names the step in the
// console ("E2E-STEP name data") and waits for <ack folder>/<name>.
(function () {
  var T = corvane.test;
  var P = corvane.path;
  var tray = corvane.tray;
  var R = { events: [], itemHits: [], byName: [] };
  var ackDir = T.environment("CORVANE_E2E_ACK");

  function sleep(ms) { return new Promise(function (r) { setTimeout(r, ms); }); }
  async function step(name, data) {
    console.log("E2E-STEP " + name + " " + JSON.stringify(data || {}));
    for (var i = 0; i < 1200 && !P.pathIsExist(ackDir + "/" + name); ++i) await sleep(50);
    return P.pathIsExist(ackDir + "/" + name);
  }
  async function until(condition, ms) {
    for (var waited = 0; waited < ms && !condition(); waited += 50) await sleep(50);
    return condition();
  }
  function hit(title) { R.itemHits.push(title); }

  async function run() {
    R.sameUnderThreeNames = tray === quorlix.tray && tray === ZVRLabJs.tray;
    R.availableAtStart = tray.isAvailable();
    R.shownAtStart = tray.isShown();
    R.icons = {
      file: tray.setIcon("tray.png"),
      theme: tray.setAttentionIcon("mail-unread"),
      notTheApplications: tray.setIcon("/etc/hostname"),
      missingFile: tray.setIcon("images/none.png")
    };
    tray.setTitle("Tray Test");
    tray.setToolTip("3 new messages");
    var m = tray.menu();
    R.sameMenu = m === tray.menu();
    m.addItem("Open", "cmd+o", hit, 0);
    m.addSeparator();
    var prefs = m.addItem("Preferences", "", null, 0).addSubmenu();
    prefs.addItem("Dark_mode", "", hit, 0);
    m.addItem("Disabled", "", hit, 0).disable();
    tray.setCallback(function (e) { R.events.push(e); });
    tray.show();
    R.shownBeforeWatcher = tray.isShown();

    // The driver starts the watcher, reads the item and acts as a person.
    await step("ready", { available: R.availableAtStart });
    await until(function () { return R.events.length >= 6; }, 20000);
    R.availableWithWatcher = tray.isAvailable();

    tray.setAttention(true);
    m.addItem("Later", "", null, 0);
    m.getItem("Open").setTitle("Open Window");
    await step("changed", {});

    await step("restart", {});

    window.trayByName = function (e) { R.byName.push(e); };
    tray.setCallback("trayByName");
    await step("by-name", {});
    await until(function () { return R.byName.length >= 1; }, 10000);

    tray.hide();
    R.shownAfterHide = tray.isShown();
    await step("hidden", {});
    T.finish(JSON.stringify(R));
  }

  window.addEventListener("load", function () {
    run().catch(function (e) { T.finish(JSON.stringify({ pageError: String(e && e.stack || e) })); });
  });
})();
