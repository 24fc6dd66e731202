// The App object end to end: the first load asks everything and sets a user
// agent, the reload reads it back; the native test object keeps the state.
(function () {
  var T = corvane.test;
  var state = T.getValue();

  // Runs a method that answers nothing and notes whether it threw.
  function quietly(R, name, fn) {
    try { fn(); R.noThrow[name] = true; } catch (e) { R.noThrow[name] = String(e); }
  }

  function firstLoad() {
    var A = corvane.app;
    var R = { noThrow: {} };

    R.names = {
      getAppName: A.getAppName(), getAppVersion: A.getAppVersion(),
      getAppBuildVersion: A.getAppBuildVersion(), getAppIdentifier: A.getAppIdentifier(),
      name: A.name(), ver: A.ver(), build_ver: A.build_ver(), identifier: A.identifier(),
      copyright: A.copyright(), notes: A.notes()
    };
    R.runOnOS = A.getAppRunOnOS();
    R.argv = A.getAppArgv();
    R.md5 = [A.md5Digest(""), A.md5Digest("Grüße")];
    var sizes = T.environment("CORVANE_E2E_SIZES");
    R.sizes = [A.fileSizeAtPath(sizes), A.diskSizeAtPath(sizes), A.getFileSizeString1000(" 1500000 "),
      A.getFileSizeString1024(0)];

    // Languages: "" is replaced by the first system language at once and
    // answers false; the chosen code is set last so the store keeps it.
    R.appleLanguage = A.curAppleLanguage();
    R.setEmpty = A.setUserLanguage("");
    R.afterEmpty = A.curUserLanguage();
    R.setJa = A.setUserLanguage("ja");
    R.afterJa = A.curUserLanguage();

    // Login item: on, then off, and its entry named for the identifier.
    var entry = T.environment("XDG_CONFIG_HOME") + "/autostart/" + A.getAppIdentifier() + ".desktop";
    R.login = [A.isStartAtLogin()];
    A.setStartAtLogin(true);
    R.login.push(A.isStartAtLogin(), corvane.path.pathIsExist(entry));
    A.setStartAtLogin(false);
    R.login.push(A.isStartAtLogin(), corvane.path.pathIsExist(entry));

    R.now = A.getNowTimeStamp();
    R.httpPort = A.getHttpServerPort();
    R.iap = A.getIAPEnable();
    R.urls = {};
    ["getBuyURL", "getFAQURL", "getHomePageURL", "getDocumentPageURL", "getRoadmapPageURL",
      "getReportIssuePageURL", "getViewLicensePageURL", "getReleaseNotesPageURL",
      "getCheckForUpdatePageURL"].forEach(function (m) { R.urls[m] = A[m](); });
    R.localIP = A.getLocalIP();
    R.idle = A.systemIdleTime();
    R.sandbox = A.getSandboxEnable();

    ["beep", "bounce", "hide", "unhide"].forEach(function (m) { quietly(R, m, function () { A[m](); }); });

    // Hand-offs to the desktop: the test's own handlers record what arrives.
    var files = T.environment("CORVANE_E2E_HANDOFF");
    quietly(R, "open", function () {
      A.open("corvanetest://hello/world?x=1");
      A.open("not a url at all");
    });
    quietly(R, "openFile", function () {
      A.openFile(files + "/note.txt");
      A.openFile(files + "/missing.txt");
    });
    quietly(R, "launch", function () {
      A.launch("Corvane Recorder");
      A.launch("no-such-application-here");
    });
    quietly(R, "sendEmailWithMail", function () {
      A.sendEmailWithMail(JSON.stringify({ senderAddress: "me@example.com", toAddress: "someone@example.com",
        subject: "Q&A? #1", body: "line one\nü" }));
    });

    // Activation of our own window is no application switch; the events
    // are checked on a desktop with other applications (host_e2e_tests).
    quietly(R, "activate", function () { A.activate(); });

    A.setCustomUserAgent("X/1");
    R.userAgentAtOnce = navigator.userAgent;
    T.setValue({ phase: "reloaded", first: R });
    location.reload();
  }

  function afterReload() {
    var R = state.first;
    R.userAgent = navigator.userAgent;
    R.userLanguageAfterReload = corvane.app.curUserLanguage();
    return R;
  }

  E2E.run(function () { return state && state.phase === "reloaded" ? afterReload() : firstLoad(); });
})();
