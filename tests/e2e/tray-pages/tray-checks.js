// The tray icon, built before any status notifier watcher runs; the
// driver (TrayE2ETest.cpp) acts as the panel at each E2E.step.
(function () {
  var tray = corvane.tray;
  var R = { events: [], itemHits: [], byName: [] };
  function hit(title) { R.itemHits.push(title); }

  async function run() {
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
    await E2E.step("ready", { available: R.availableAtStart });
    await E2E.until(function () { return R.events.length >= 6; }, 20000);
    R.availableWithWatcher = tray.isAvailable();

    tray.setAttention(true);
    m.addItem("Later", "", null, 0);
    m.getItem("Open").setTitle("Open Window");
    await E2E.step("changed", {});

    await E2E.step("restart", {});

    window.trayByName = function (e) { R.byName.push(e); };
    tray.setCallback("trayByName");
    await E2E.step("by-name", {});
    await E2E.until(function () { return R.byName.length >= 1; }, 10000);

    tray.hide();
    R.shownAfterHide = tray.isShown();
    await E2E.step("hidden", {});
    return R;
  }

  E2E.run(run);
})();
