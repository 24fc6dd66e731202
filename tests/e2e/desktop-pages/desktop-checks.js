// Menus, badge, notifications, alerts, sounds, fonts and the clipboard.
// Where a person acts (keys, menu choices, a click on a notification, alert
// buttons) or the test reads the desktop (the bus, the notification daemon,
// xclip), the page names a step for the driver. Every answer the page can
// know is compared here: the test wants no mismatch.
(function () {
  var T = corvane.test;
  var R = { mismatches: E2E.mismatches };
  var step = E2E.step, sleep = E2E.sleep, until = E2E.until;

  var expect = E2E.expect;
  function check(name, ok, saw) {
    if (!ok) E2E.mismatches[name] = { saw: saw === undefined ? "undefined" : saw };
  }

  function findTop(title) {
    return T.menuBarTree().filter(function (m) { return m.title === title; })[0] || null;
  }

  // Positions, keys, removals and stale proxies' refusals are the menu
  // proxies' unit tests; here, the page's script objects and the real menu bar.
  async function menus() {
    var hits = [];
    var menu = corvane.menu;
    function hit(title) { hits.push(title); }

    var tools = menu.addItem("Tools", "", undefined, 0);
    var toolsMenu = tools.submenu();
    expect("the same objects", [toolsMenu === tools.submenu(), menu.getItem("Tools") === tools,
                                tools.addSubmenu() === toolsMenu], [true, true, true]);
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
    expect("the same item by title", toolsMenu.getItem("Say Hello") === hello, true);
    expect("removeMenu answers the menu", toolsMenu.removeMenu("First") === toolsMenu, true);
    var items = (findTop("Tools") || { items: [] }).items;
    expect("the menu bar", [items.map(function (i) { return i.title; }), (items[3] || {}).enabled,
                            ((items[4] || {}).items || [{}])[0].key],
           [["Say Hello", "Click Me", "", "New Name", "More"], false, "<Shift>s"]);

    // A person types the key, then chooses an item with the keyboard; the
    // disabled item does not answer its key.
    await step("menu-key", {});
    await until(function () { return hits.length >= 1; }, 20000);
    await step("menu-choose", {});
    await until(function () { return hits.length >= 2; }, 20000);
    await step("menu-disabled-key", {});
    await sleep(800);
    expect("hits", hits, ["Say Hello", "Click Me"]);
  }

  async function dock() {
    ["3", "new mail", "", "7"].forEach(function (b) { corvane.dock.setBadge(b); });
    await step("dock-signals", {});
  }

  async function notifications() {
    var G = corvane.growl, N = corvane.notice;
    expect("members", [typeof G.notify, typeof G.alert, typeof N.notify, typeof N.alert, typeof N.available],
           ["function", "undefined", "function", "function", "undefined"]);
    corvane.window.minimize();
    G.notify(JSON.stringify({ title: "Growl title", content: "Growl body" }));
    await step("growl-click", {});
    expect("notify answers", N.notify(JSON.stringify({ title: "Notice title", content: "Notice <b>body</b> & more" })),
           "");
    await step("notice-shown", {});

    // The daemon stops (SIGSTOP) and comes back: the page never waits for
    // it (a call that did would take its 25 s time-out), and what was sent
    // meanwhile is shown once it runs again.
    await step("daemon-stop", {});
    var t0 = performance.now();
    expect("notify answers while stopped", N.notify(JSON.stringify({ title: "While stopped", content: "queued" })), "");
    var ms = [performance.now() - t0];
    t0 = performance.now();
    G.notify(JSON.stringify({ title: "Growl while stopped", content: "queued" }));
    ms.push(performance.now() - t0);
    var answers = [];
    t0 = performance.now();
    for (var i = 0; i < 70; ++i) answers.push(N.notify(JSON.stringify({ title: "Many " + i, content: "" })));
    ms.push(performance.now() - t0);
    check("never held", ms[0] < 2000 && ms[1] < 2000 && ms[2] < 5000, ms);
    // Taken (sent or queued) until the daemon owes 64 answers, then refused
    // with a reason instead of piling up without end.
    check("62 taken, then refused", answers.length === 70 && answers.every(function (a, i) {
      return i < 62 ? a === "" : /has not answered/.test(a);
    }), answers);
    await step("daemon-cont", {});
  }

  // The code of the button pressed: the first, the second, the third
  // (2^64-1 as script numbers have it).
  async function alerts() {
    var N = corvane.notice, codes = [];
    console.log("E2E-STEP alert-one {}");
    codes.push(N.alert(JSON.stringify({ title: "Alert One", message: "one button", buttons: ["OK"] })));
    console.log("E2E-STEP alert-second {}");
    codes.push(N.alert(JSON.stringify({ title: "Alert Second", message: "pick the second",
                                        buttons: ["Yes", "No", "Later"], alertType: "Information" })));
    console.log("E2E-STEP alert-third {}");
    codes.push(N.alert(JSON.stringify({ title: "Alert Third", message: "%@ %d %s", buttons: ["A", "B", "C", "D"],
                                        alertType: "Critical" })));
    expect("alert codes", codes, [1, 0, 18446744073709551615]);
  }

  // The test's sounds last 0.6 s and 1.5 s.
  async function sounds() {
    var calls = {}, count = 0;
    var s = corvane.sound;
    var t0 = Date.now();
    function done(tag) {
      return function (name) { calls[tag] = calls[tag] ? "twice" : { name: name, ms: Date.now() - t0 }; ++count; };
    }
    s.playWithCB("sounds/short.wav", done("short"));
    s.playWithCB("sounds/long.wav", done("long"));
    s.playSystemWithCB("bell", done("bell"));
    s.playSystemWithCB("no-such-sound", done("missing"));
    s.play("sounds/nothing-here.wav");
    s.play("sounds/short.wav");
    // The missing system sound never plays and is never pending.
    var pendingAtStart = s.pending();
    await until(function () { return count >= 3; }, 20000);
    await sleep(1500);  // nothing is called twice, nothing else arrives
    expect("pending", [pendingAtStart, s.pending(), count], [[null, null, "bell"], [], 3]);
    var shortOne = calls.short || {}, longOne = calls.long || {};
    expect("names", [shortOne.name, longOne.name, (calls.bell || {}).name], [null, null, "bell"]);
    // Played side by side: each one ends after its own length.
    check("lengths", shortOne.ms >= 550 && longOne.ms >= 1450 && longOne.ms < 5100 && shortOne.ms < longOne.ms,
          calls);
  }

  // What members and line heights hold is the fonts' unit tests'; here,
  // that the page reaches them. The lists are the test's to compare.
  function fonts() {
    R.fonts = { fonts: corvane.fonts.availableFonts(), families: corvane.fonts.availableFontFamilies() };
    expect("fonts", [corvane.fonts.availableMembersOfFontFamily("DejaVu Sans").length > 0,
                     corvane.fonts.defaultLineHeightForFont("DejaVuSans", 12) > 12], [true, true]);
  }

  // The test reads the page's copy with xclip, then copies with it.
  async function clipboard() {
    var C = corvane.clipboard;
    C.copy("from the page \u00e9");
    expect("roundTrip", C.paste(), "from the page \u00e9");
    await step("clip-copied", {});
    await step("clip-xclip-owns", {});
    expect("fromOther", C.paste(), "from xclip");
    C.copy("");
    expect("empty", C.paste(), "");
  }

  function withoutDaemon() {
    expect("no notice member", [typeof corvane.notice, "notice" in corvane], ["undefined", false]);
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
