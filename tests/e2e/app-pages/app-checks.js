// The App object end to end: the first load asks everything and sets a user
// agent, the reload reads it back; the native test object keeps the state.
(function () {
  var T = corvane.test, A = corvane.app;
  var state = T.getValue();

  function firstLoad() {
    var sizes = T.environment("CORVANE_E2E_SIZES");
    var entry = T.environment("XDG_CONFIG_HOME") + "/autostart/" + A.getAppIdentifier() + ".desktop";
    // The login item on or off, and whether its entry is there.
    function login(on) {
      A.setStartAtLogin(on);
      return [A.isStartAtLogin(), corvane.path.pathIsExist(entry)];
    }
    var R = {
      // Each name under both of its names.
      names: [A.getAppName(), A.name(), A.getAppVersion(), A.ver(), A.getAppBuildVersion(), A.build_ver(),
        A.getAppIdentifier(), A.identifier(), A.copyright(), A.notes()],
      runOnOS: A.getAppRunOnOS(),
      argv: A.getAppArgv(),
      sandbox: A.getSandboxEnable(),
      md5: [A.md5Digest(""), A.md5Digest("Grüße")],
      sizes: [A.fileSizeAtPath(sizes), A.diskSizeAtPath(sizes), A.getFileSizeString1000(" 1500000 "),
        A.getFileSizeString1024(0)],
      // "" is replaced by the first system language at once and answers
      // false; the chosen code is set last so the store keeps it.
      languages: [A.curAppleLanguage(), A.setUserLanguage(""), A.curUserLanguage(), A.setUserLanguage("ja"),
        A.curUserLanguage()],
      login: [A.isStartAtLogin()].concat(login(true), login(false)),
      httpPort: A.getHttpServerPort(),
      iap: A.getIAPEnable(),
      urls: ["getBuyURL", "getFAQURL", "getHomePageURL", "getDocumentPageURL", "getRoadmapPageURL",
        "getReportIssuePageURL", "getViewLicensePageURL", "getReleaseNotesPageURL",
        "getCheckForUpdatePageURL"].map(function (m) { return A[m](); }),
      now: A.getNowTimeStamp(),
      localIP: A.getLocalIP(),
      idle: A.systemIdleTime(),
      threw: []
    };

    // Methods that answer nothing must not throw. Hand-offs to the desktop:
    // the test's own handlers record what arrives. Activation of our own
    // window is no application switch; the events are checked on a desktop
    // with other applications (host_e2e_tests).
    var files = T.environment("CORVANE_E2E_HANDOFF");
    [function beep() { A.beep(); }, function bounce() { A.bounce(); }, function hide() { A.hide(); },
      function unhide() { A.unhide(); },
      function open() { A.open("corvanetest://hello/world?x=1"); A.open("not a url at all"); },
      function openFile() { A.openFile(files + "/note.txt"); A.openFile(files + "/missing.txt"); },
      function launch() { A.launch("Corvane Recorder"); A.launch("no-such-application-here"); },
      function sendEmailWithMail() {
        A.sendEmailWithMail(JSON.stringify({ senderAddress: "me@example.com", toAddress: "someone@example.com",
          subject: "Q&A? #1", body: "line one\nü" }));
      }, function activate() { A.activate(); }].forEach(function (fn) {
      try { fn(); } catch (e) { R.threw.push(fn.name + ": " + e); }
    });

    A.setCustomUserAgent("X/1");
    R.userAgent = [navigator.userAgent];
    T.setValue({ phase: "reloaded", first: R });
    location.reload();
  }

  function afterReload() {
    var R = state.first;
    R.userAgent.push(navigator.userAgent);
    R.languages.push(A.curUserLanguage());
    return R;
  }

  E2E.run(function () { return state && state.phase === "reloaded" ? afterReload() : firstLoad(); });
})();
