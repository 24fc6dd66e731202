// Drives one application-event or launch-configuration scenario, chosen by
// the test through the EVENTS_MODE environment variable, and reports
// through the test service.
(function () {
  if (location.hash === "#popup") return;  // a window this page opened
  var T = corvane.test, finish = E2E.finish;
  var mode = T.environment("EVENTS_MODE");
  // Calls `done` with the first truthy answer of `check`, however long that takes.
  function poll(check, done) { E2E.until(check, Infinity).then(done); }
  console.log("events ready " + mode);

  if (mode === "files") {
    // Waits for EVENTS_EXPECT files, then a while longer so that a file
    // delivered twice would show.
    var expected = parseInt(T.environment("EVENTS_EXPECT"), 10);
    poll(function () { return T.openedFiles().length >= expected; }, function () {
      console.log("events got " + expected + " files");
      setTimeout(function () {
        finish({ files: T.openedFiles(), visible: T.openedWhileVisible() });
      }, 1000);
    });
  } else if (mode === "sleep") {
    var seen = [];
    ["sleep", "wake"].forEach(function (name) {
      document.addEventListener(name, function () {
        seen.push(name);
        console.log("events event " + name);
        if (name === "wake") finish({ events: seen });
      });
    });
    // A heartbeat shows the page still runs while the bus is away.
    var beats = 0;
    setInterval(function () { console.log("events beat " + (++beats)); }, 500);
  } else if (mode === "relaunch-update") {
    var app = corvane.app;
    if (app.curUserLanguage() !== "relaunched") {
      app.setUserLanguage("relaunched");
      console.log("events waiting for the update");
      poll(function () { return T.pathExists(T.environment("EVENTS_FLAG")); }, function () {
        app.relaunch();
      });
    } else {
      finish({ relaunched: true });
    }
  } else if (mode === "popup-quit") {
    // The main window closes while a page-opened window is up (it only
    // hides), then the page-opened window closes: no window is left.
    window.open("index.html#popup", "_blank", "width=300,height=200");
    poll(function () { return T.visibleWindowCount() >= 2; }, function () {
      T.closeMainWindow();
      poll(function () { return T.visibleWindowCount() === 1; }, function () {
        console.log("events main window closed");
        T.closeOtherWindows();
      });
    });
  } else if (mode === "minimize") {
    poll(function () { var s = T.windowState(); return s.visible && s.active; }, function () {
      T.minimizeMainWindow();
      poll(function () { return T.windowState().iconified; }, function () {
        console.log("events minimized");
        poll(function () { var s = T.windowState(); return !s.iconified && s.active; }, function () {
          finish({ state: T.windowState() });
        });
      });
    });
  } else if (mode === "cover") {
    poll(function () { var s = T.windowState(); return s.visible && s.active; }, function () {
      console.log("events xid " + T.windowState().xid);
    });
  } else if (mode === "hidden-files") {
    T.closeMainWindow();
    poll(function () { return !T.windowState().visible; }, function () {
      console.log("events hidden");
      poll(function () { return T.openedFiles().length >= 1; }, function () {
        finish({ files: T.openedFiles(), visible: T.openedWhileVisible(), state: T.windowState() });
      });
    });
  } else if (mode === "style") {
    setTimeout(function () { finish({ state: T.windowState() }); }, 500);
  } else if (mode === "quit-on-close") {
    setTimeout(function () { T.closeMainWindow(); }, 200);
  } else if (mode === "size") {
    // The test measures the X window against what the page sees.
    var report = function () {
      console.log("events size " + JSON.stringify({ inner: [window.innerWidth, window.innerHeight],
                                                    state: T.windowState() }));
    };
    report();
    window.addEventListener("resize", report);
    setInterval(report, 1000);
  } else if (mode === "keep-config") {
    // The test breaks and mends project.json while the page keeps asking.
    setInterval(function () { console.log("events url " + corvane.app.getHomePageURL()); }, 300);
  }
  // Other modes: the test drives the shell from outside.
})();
