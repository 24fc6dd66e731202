// The bridge end-to-end checks, as loaded and after a reload; the native
// test object keeps the state in between. The folder answers go to the
// test, which knows where they should point.
(function () {
  var T = corvane.test;
  var state = T.getValue();
  var expect = E2E.expect;

  function identity(when) {
    expect(when + ": one root", window.corvane === window.quorlix && window.quorlix === window.ZVRLabJs, true);
    expect(when + ": one path", corvane.path === quorlix.path && quorlix.path === ZVRLabJs.path, true);
    expect(when + ": path stable", corvane.path === corvane.path, true);
    expect(when + ": root type", typeof corvane, "object");
  }

  function firstLoad() {
    var R = {};
    R.envAtFirstScript = window.envAtFirstScript;
    identity("first load");

    // A callback evaluated by the method has run when the call returns.
    var ran = null;
    window.onNow = function (r) { ran = r; };
    expect("callNow answer", JSON.parse(T.callNow('{"callback":"onNow","value":5}')), { success: true, value: 5 });
    expect("callback ran before return", ran, { success: true, value: 5 });

    // A dotted callback name reaches a member function.
    window.holder = { fn: function (r) { window.holder.got = r.value; } };
    T.callNow('{"callback":"holder.fn","value":"dotted"}');
    expect("dotted callback", window.holder.got, "dotted");

    // Null members are absent; callbacks still get the params.
    var seen = null;
    window.onParams = function (p) { seen = p; };
    var withoutNull = { callback: "onParams", a: 1 };
    expect("null hidden", JSON.parse(T.echoParams('{"callback":"onParams","path":null,"a":1}')), withoutNull);
    expect("null hidden in callback", seen, withoutNull);
    // Not JSON, an array, a number: an empty params dictionary, no callback.
    var called = 0;
    window.never = function () { called++; };
    expect("params not JSON", JSON.parse(T.echoParams("callback=never")), {});
    expect("params an array", JSON.parse(T.echoParams('[{"callback":"never"}]')), {});
    expect("params a number", JSON.parse(T.echoParams(42)), {});
    expect("calls of bad params", called, 0);

    expect("undefined result", typeof T.setValue(null), "undefined");

    // Function objects: called at once inside a call; booleans reach them
    // as 1 or 0.
    var fnArgs = [];
    expect("function kept", T.keepFunction(function () { fnArgs.push(Array.prototype.slice.call(arguments)); }), true);
    expect("not a function refused", T.keepFunction("not a function"), false);
    T.keepFunction(function () { fnArgs.push(Array.prototype.slice.call(arguments)); });
    T.callKept({ flag: true, list: [false, "s"] });
    expect("function args, at once", fnArgs, [[{ flag: 1, list: [0, "s"] }]]);

    // Every Path method.
    var P = corvane.path;
    var folders = ["application", "resource", "homeDir", "documentsDir", "libraryDir", "tempDir", "cacheDir",
      "applicationDir", "desktopDir", "downloadDir", "moviesDir", "musicDir", "picturesDir", "applicationName",
      "userName", "userFullName", "localDocumentsDir", "localMoviesDir", "localMusicDir", "localPicturesDir",
      "localDownloadDir", "localDesktopDir", "localLibraryDir", "appWriteableDocumentDir",
      "appWriteableDownloadDir", "appWriteableMoviesDir", "appWriteableMusicDir", "appWriteablePicturesDir",
      "appPluginDirPath", "appUIDirPath", "appDataHomeDir"];
    R.folders = {};
    folders.forEach(function (f) { R.folders[f] = P[f](); });
    expect("default names absent", typeof P.getATempFilePath_ + typeof P.printInfo, "undefinedundefined");
    expect("hidden root selectors", typeof corvane.helloSchema, "undefined");

    T.setValue({ phase: "reloaded", first: R, mismatches: E2E.mismatches });
    location.reload();
  }

  async function afterReload() {
    var R = state.first;
    Object.assign(E2E.mismatches, state.mismatches);
    identity("reload");
    // The native objects survived the reload: the test object kept its state.
    expect("native state kept", state.phase, "reloaded");

    var pending = { sub: null, opened: null, allowed: null };
    window.addEventListener("message", function (e) {
      var d = e.data;
      if (d.kind === "sub" && d.opened) pending.opened = d;
      else if (d.kind === "sub") pending.sub = d;
      else if (d.kind === "remote") pending.allowed = d;
    });
    var remote = "http://127.0.0.1:" + T.environment("CORVANE_E2E_ALLOWED_PORT") + "/remote.html";
    ["sub.html", remote].forEach(function (src) {
      var f = document.createElement("iframe");
      f.src = src;
      document.body.appendChild(f);
    });

    // A window opened by script is an application window with a bridge of
    // its own (a new root: the test object there holds no value yet).
    window.open("sub.html", "_blank", "width=400,height=300");

    // Callbacks queued from another thread arrive in order.
    var queued = [];
    window.onQueued = function (i) { queued.push(i); };
    T.callFromThread('{"callback":"onQueued","count":200}');
    expect("queued callbacks not at once", queued.length, 0);

    // Plain events come after the current work.
    var plain = 0;
    document.addEventListener("corvaneplain", function () { plain++; });
    T.fireEvent("corvaneplain");
    expect("plain event queued", plain, 0);

    // Resizing the window fires "orientationchange" on the document.
    var resized = 0;
    document.addEventListener("orientationchange", function () { resized++; });
    T.resize(900, 640);

    // Panels: confirm answers true only for "Yes".
    [["Yes", true], ["No", false], ["close", false]].forEach(function (c) {
      T.answerNextPanel(c[0]);
      expect("confirm " + c[0], confirm(c[0] + "?"), c[1]);
    });
    T.answerNextPanel("OK");
    alert("alert panel");

    await E2E.until(function () {
      return queued.length === 200 && plain === 1 && resized > 0 && pending.sub && pending.opened && pending.allowed;
    }, 30000);
    expect("queued in order", queued, Array.from({ length: 200 }, function (_, i) { return i; }));
    expect("plain events", plain, 1);
    // One resize, one event; the page then has the new width.
    expect("orientationchange", resized, 1);
    expect("width after resize", window.innerWidth, 900);
    var sub = { opened: false, kind: "sub", sameRoot: true, samePath: true, pathStable: true, value: "reloaded",
      ext: "js" };
    expect("sub frame", pending.sub, sub);
    expect("opened window", pending.opened, Object.assign({}, sub, { opened: true, value: null }));
    // A listed origin gets the bridge (other origins are refused: see the
    // hostile suites).
    expect("listed origin", pending.allowed, { kind: "remote", corvane: "object", home: corvane.path.homeDir() });
    R.mismatches = E2E.mismatches;
    return R;
  }

  E2E.run(function () { return state && state.phase === "reloaded" ? afterReload() : firstLoad(); });
})();
