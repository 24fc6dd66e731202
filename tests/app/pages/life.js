// Drives one application-life scenario, chosen by the test through the
// LIFE_MODE environment variable, and reports through the test service.
(function () {
  var T = corvane.test, finish = E2E.finish;
  var mode = T.environment("LIFE_MODE");
  // Calls `done` with the first truthy answer of `check`, however long that takes.
  function poll(check, done) { E2E.until(check, Infinity).then(done); }
  console.log("life ready " + mode);

  if (mode === "style") {
    setTimeout(function () { finish({ state: T.windowState() }); }, 500);
  } else if (mode === "open") {
    poll(function () { var f = T.openedFiles(); return f.length >= 2 ? f : null; },
         function (files) { finish({ files: files }); });
  } else if (mode === "reopen") {
    T.closeMainWindow();
    setTimeout(function () {
      var hidden = !T.windowState().visible;
      console.log("life closed " + hidden);
      poll(function () { return T.windowState().visible; },
           function () { finish({ hiddenAfterClose: hidden, reopened: true }); });
    }, 300);
  } else if (mode === "quit-on-close") {
    setTimeout(function () { T.closeMainWindow(); }, 200);
  } else if (mode === "relaunch") {
    // The user language persists in the defaults file, so the relaunched
    // process knows it is the second one.
    var app = corvane.app;
    if (app.curUserLanguage() !== "relaunched") {
      app.setUserLanguage("relaunched");
      console.log("life relaunching");
      app.relaunch();
    } else {
      finish({ relaunched: true });
    }
  } else if (mode === "size") {
    // The test measures the X window against what the page sees.
    var report = function () {
      console.log("life size " + JSON.stringify({ inner: [window.innerWidth, window.innerHeight],
                                                  state: T.windowState() }));
    };
    report();
    window.addEventListener("resize", report);
    setInterval(report, 1000);
  } else if (mode === "keep-config") {
    // The test breaks and mends project.json while the page keeps asking.
    setInterval(function () { console.log("life url " + corvane.app.getHomePageURL()); }, 300);
  }
  // "sigterm": nothing; the test sends the signal.
})();
