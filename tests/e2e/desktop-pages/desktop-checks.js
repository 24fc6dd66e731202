// Menus, badge, notifications, alerts, sounds, fonts and the clipboard end
// to end. Where a person acts (keys, menu choices, a click on a
// notification, alert buttons) or the test reads the desktop (the bus, the
// notification daemon, xclip), the page names the step in the console
// ("E2E-STEP name data") and the test's driver answers by creating
// <ack folder>/<name>. Findings go to corvane.test.finish() at the end.
(function () {
  var T = corvane.test;
  var P = corvane.path;
  var R = {};
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
  function refusal(fn) {
    try { fn(); return "no error"; } catch (e) { return String(e && e.message || e); }
  }
  function findTop(title) {
    return T.menuBarTree().filter(function (m) { return m.title === title; })[0] || null;
  }

  async function menus() {
    var M = R.menus = { hits: [] };
    var menu = corvane.menu;
    M.sameUnderThreeNames = menu === quorlix.menu && menu === ZVRLabJs.menu;
    function hit(title) { M.hits.push(title); }

    var tools = menu.addItem("Tools", "", undefined, 0);
    var toolsMenu = tools.submenu();
    M.identity = {
      submenuTwice: toolsMenu === tools.submenu(),
      getItemSame: menu.getItem("Tools") === tools,
      addSubmenuSame: tools.addSubmenu() === toolsMenu,
      removeMenuAnswersMenu: null
    };
    var hello = toolsMenu.addItem("Say Hello", "cmd+shift+h", hit, 0);
    toolsMenu.addItem("Click Me", "", hit, 1);        // index 1 of one item: appended
    toolsMenu.addItem("First", "", null, 1);          // between the two
    toolsMenu.addSeparator();
    var gone = toolsMenu.addItem("Gone Soon", "ctrl-alt-g", hit, 0);
    var renamed = toolsMenu.addItem("Old Name", "", hit, 0);
    renamed.setTitle("New Name");
    renamed.setKey("opt+alt+n");
    renamed.disable();
    var more = toolsMenu.addItem("More", "", null, 0).addSubmenu();
    more.addItem("Deep", "S", hit, 0);                // upper case: with Shift
    M.sameHelloByTitle = toolsMenu.getItem("Say Hello") === hello;
    M.missing = toolsMenu.getItem("Nobody");
    M.outside = toolsMenu.getItem(99);
    M.nullKey = toolsMenu.getItem(null);
    M.printByPrefix = menu.getItem("File").submenu().getItem("Print") !== null;
    M.treeBuilt = findTop("Tools");

    gone.remove();
    M.removedRefusal = refusal(function () { gone.setTitle("again"); });
    M.identity.removeMenuAnswersMenu = toolsMenu.removeMenu("First") === toolsMenu;
    M.removeMissing = toolsMenu.removeMenu("First");
    M.treeChanged = findTop("Tools");

    var scratch = menu.addItem("Scratch", "", null, 0);
    var scratchMenu = scratch.submenu();
    menu.removeMenu("Scratch");
    M.goneMenuRefusal = refusal(function () { scratchMenu.addItem("x", "", null, 0); });
    M.goneMenuLookup = scratchMenu.getItem(0);
    M.scratchLeft = findTop("Scratch");

    // A person types the key, then chooses an item with the keyboard.
    await step("menu-key", {});
    await until(function () { return M.hits.length >= 1; }, 20000);
    await step("menu-choose", {});
    await until(function () { return M.hits.length >= 2; }, 20000);
    // A disabled item does not answer its key.
    await step("menu-disabled-key", {});
    await sleep(800);
    M.hitsAtEnd = M.hits.slice();
  }

  async function dock() {
    var D = R.dock = {};
    D.before = corvane.dock.badge;
    corvane.dock.setBadge("3");
    D.afterThree = corvane.dock.badge;
    corvane.dock.setBadge("new mail");
    D.afterText = corvane.dock.badge;
    corvane.dock.setBadge("");
    D.afterEmpty = corvane.dock.badge;
    corvane.dock.setBadge("7");
    await step("dock-signals", {});
  }

  async function notifications() {
    var N = R.notifications = {};
    N.faces = {
      growlNotify: typeof corvane.growl.notify, growlAlert: typeof corvane.growl.alert,
      noticeNotify: typeof corvane.notice.notify, noticeAlert: typeof corvane.notice.alert,
      noticeAvailable: typeof corvane.notice.available
    };
    corvane.window.minimize();
    corvane.growl.notify(JSON.stringify({ title: "Growl title", content: "Growl body" }));
    await step("growl-click", {});
    N.noticeAnswer = corvane.notice.notify(JSON.stringify({ title: "Notice title", content: "Notice <b>body</b> & more" }));
    await step("notice-shown", {});

    // The daemon stops (SIGSTOP) and comes back: the page never waits for
    // it, and what was sent meanwhile is shown once it runs again.
    await step("daemon-stop", {});
    var t0 = performance.now();
    N.stoppedNotice = corvane.notice.notify(JSON.stringify({ title: "While stopped", content: "queued" }));
    N.stoppedNoticeMs = performance.now() - t0;
    t0 = performance.now();
    corvane.growl.notify(JSON.stringify({ title: "Growl while stopped", content: "queued" }));
    N.stoppedGrowlMs = performance.now() - t0;
    var answers = [];
    t0 = performance.now();
    for (var i = 0; i < 70; ++i) answers.push(corvane.notice.notify(JSON.stringify({ title: "Many " + i, content: "" })));
    N.stoppedManyMs = performance.now() - t0;
    N.stoppedManyAnswers = answers;
    await step("daemon-cont", {});
  }

  async function alerts() {
    var A = R.alerts = {};
    var N = corvane.notice;
    console.log("E2E-STEP alert-one {}");
    A.one = N.alert(JSON.stringify({ title: "Alert One", message: "one button", buttons: ["OK"] }));
    console.log("E2E-STEP alert-second {}");
    A.second = N.alert(JSON.stringify({ title: "Alert Second", message: "pick the second", buttons: ["Yes", "No", "Later"],
                                        alertType: "Information" }));
    console.log("E2E-STEP alert-third {}");
    A.third = N.alert(JSON.stringify({ title: "Alert Third", message: "%@ %d %s", buttons: ["A", "B", "C", "D"],
                                       alertType: "Critical" }));
    A.badKind = N.alert(JSON.stringify({ title: "x", buttons: ["OK"], alertType: "Warning" }));
    A.noButtons = N.alert(JSON.stringify({ title: "x", buttons: [] }));
    A.fiveButtons = N.alert(JSON.stringify({ title: "x", buttons: ["1", "2", "3", "4", "5"] }));
  }

  async function sounds() {
    var S = R.sounds = { calls: [] };
    var s = corvane.sound;
    var t0 = Date.now();
    function done(tag) {
      return function (name) { S.calls.push({ tag: tag, name: name, ms: Date.now() - t0 }); };
    }
    s.playWithCB("sounds/short.wav", done("short"));
    s.playWithCB("sounds/long.wav", done("long"));
    s.playSystemWithCB("bell", done("bell"));
    s.playSystemWithCB("no-such-sound", done("missing"));
    s.play("sounds/nothing-here.wav");
    s.play("sounds/short.wav");
    S.pendingAtStart = s.pending();
    await until(function () { return S.calls.length >= 3; }, 20000);
    await sleep(1500);  // nothing is called twice, nothing else arrives
    S.pendingAtEnd = s.pending();
  }

  function fonts() {
    var F = R.fonts = {};
    F.fonts = corvane.fonts.availableFonts();
    F.families = corvane.fonts.availableFontFamilies();
    F.dejavu = corvane.fonts.availableMembersOfFontFamily("DejaVu Sans");
    F.unknown = corvane.fonts.availableMembersOfFontFamily("No Such Family");
    F.lineHeight12 = corvane.fonts.defaultLineHeightForFont("DejaVuSans", 12);
    F.lineHeightUnknown = corvane.fonts.defaultLineHeightForFont("NoSuchFont", 12);
  }

  async function clipboard() {
    var C = R.clipboard = {};
    corvane.clipboard.copy("from the page \u00e9");
    C.roundTrip = corvane.clipboard.paste();
    await step("clip-copied", {});
    await step("clip-xclip-owns", {});
    C.fromOther = corvane.clipboard.paste();
    corvane.clipboard.copy("");
    C.empty = corvane.clipboard.paste();
  }

  async function withoutDaemon() {
    R.noticeType = typeof corvane.notice;
    R.hasNotice = "notice" in corvane;
    corvane.growl.notify(JSON.stringify({ title: "nobody", content: "listens" }));
  }

  async function run() {
    try {
      if (T.environment("CORVANE_E2E_PHASE") === "no-daemon") {
        await withoutDaemon();
        T.finish(JSON.stringify(R));
        return;
      }
      await menus();
      await dock();
      await notifications();
      await alerts();
      await sounds();
      fonts();
      await clipboard();
      T.finish(JSON.stringify(R));
    } catch (e) {
      T.finish(JSON.stringify({ pageError: String(e) + " " + (e.stack || ""), partial: R }));
    }
  }
  window.addEventListener("load", function () { setTimeout(run, 100); });
})();
