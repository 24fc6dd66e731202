// Menus, badge, notifications, alerts, sounds, fonts and the clipboard.
// Where a person acts (keys, menu choices, a click on a notification, alert
// buttons) or the test reads the desktop (the bus, the notification daemon,
// xclip), the page names a step for the driver.
(function () {
  var T = corvane.test;
  var R = {};
  var step = E2E.step, sleep = E2E.sleep, until = E2E.until;

  function findTop(title) {
    return T.menuBarTree().filter(function (m) { return m.title === title; })[0] || null;
  }

  async function menus() {
    var M = R.menus = { hits: [] };
    var menu = corvane.menu;
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
    var renamed = toolsMenu.addItem("Old Name", "", hit, 0);
    renamed.setTitle("New Name");
    renamed.setKey("opt+alt+n");
    renamed.disable();
    var more = toolsMenu.addItem("More", "", null, 0).addSubmenu();
    more.addItem("Deep", "S", hit, 0);                // upper case: with Shift
    M.sameHelloByTitle = toolsMenu.getItem("Say Hello") === hello;
    M.identity.removeMenuAnswersMenu = toolsMenu.removeMenu("First") === toolsMenu;
    M.tree = findTop("Tools");

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
    ["3", "new mail", "", "7"].forEach(function (b) { corvane.dock.setBadge(b); });
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
    F.lineHeight12 = corvane.fonts.defaultLineHeightForFont("DejaVuSans", 12);
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

  function withoutDaemon() {
    R.noticeType = typeof corvane.notice;
    R.hasNotice = "notice" in corvane;
    corvane.growl.notify(JSON.stringify({ title: "nobody", content: "listens" }));
  }

  E2E.run(async function () {
    if (T.environment("CORVANE_E2E_PHASE") === "no-daemon") {
      withoutDaemon();
      return R;
    }
    await menus();
    await dock();
    await notifications();
    await alerts();
    await sounds();
    fonts();
    await clipboard();
    return R;
  }, R);
})();
