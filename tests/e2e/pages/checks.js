// The bridge end-to-end checks, as loaded and after a reload; the native
// test object keeps the state in between.
(function () {
  var T = corvane.test;
  var state = T.getValue();

  function identity() {
    return {
      sameRoot: window.corvane === window.quorlix && window.quorlix === window.ZVRLabJs,
      samePath: corvane.path === quorlix.path && quorlix.path === ZVRLabJs.path,
      pathStable: corvane.path === corvane.path,
      rootType: typeof corvane
    };
  }

  function firstLoad() {
    var R = {};
    R.envAtFirstScript = window.envAtFirstScript;
    R.identity = { first: identity() };

    // A callback evaluated by the method has run when the call returns.
    var ran = null;
    window.onNow = function (r) { ran = r; };
    var ret = T.callNow('{"callback":"onNow","value":5}');
    R.callbackRanBeforeReturn = ran !== null && ran.success === true && ran.value === 5;
    R.callNowReturn = JSON.parse(ret);

    // A dotted callback name reaches a member function.
    window.holder = { fn: function (r) { window.holder.got = r.value; } };
    T.callNow('{"callback":"holder.fn","value":"dotted"}');
    R.dotted = window.holder.got;

    // Null members are absent; callbacks still get the params.
    var seen = null;
    window.onParams = function (p) { seen = p; };
    R.nullHidden = JSON.parse(T.echoParams('{"callback":"onParams","path":null,"a":1}'));
    R.nullHiddenCallback = seen;
    // Not JSON, an array, a number: an empty params dictionary, no callback.
    var called = 0;
    window.never = function () { called++; };
    R.paramsNotJson = JSON.parse(T.echoParams("callback=never"));
    R.paramsArray = JSON.parse(T.echoParams('[{"callback":"never"}]'));
    R.paramsNumber = JSON.parse(T.echoParams(42));
    R.paramsCallbacks = called;

    R.undefinedResult = typeof T.setValue(null);

    // Function objects: called at once inside a call.
    var fnArgs = [];
    R.keptTaken = T.keepFunction(function () { fnArgs.push(Array.prototype.slice.call(arguments)); });
    R.keptRefused = T.keepFunction("not a function");
    T.keepFunction(function () { fnArgs.push(Array.prototype.slice.call(arguments)); });
    T.callKept({ flag: true, list: [false, "s"] });
    R.functionRanBeforeReturn = fnArgs.length === 1;
    R.functionArgs = fnArgs[0];

    // Every Path method.
    var P = corvane.path;
    var folders = ["application", "resource", "homeDir", "documentsDir", "libraryDir", "tempDir", "cacheDir",
      "applicationDir", "desktopDir", "downloadDir", "moviesDir", "musicDir", "picturesDir", "applicationName",
      "userName", "userFullName", "localDocumentsDir", "localMoviesDir", "localMusicDir", "localPicturesDir",
      "localDownloadDir", "localDesktopDir", "localLibraryDir", "appWriteableDocumentDir",
      "appWriteableDownloadDir", "appWriteableMoviesDir", "appWriteableMusicDir", "appWriteablePicturesDir",
      "appPluginDirPath", "appUIDirPath", "appDataHomeDir"];
    var folderAnswers = {};
    folders.forEach(function (f) { folderAnswers[f] = P[f](); });
    R.folders = folderAnswers;
    R.defaultNamesAbsent = typeof P.getATempFilePath_ === "undefined" && typeof P.printInfo === "undefined";
    R.hiddenRootSelectors = typeof corvane.helloSchema === "undefined";

    T.setValue({ phase: "reloaded", first: R });
    location.reload();
  }

  async function afterReload() {
    var R = state.first;
    R.identity.reload = identity();
    R.nativeStateKept = state.phase;

    var pending = { sub: null, opened: null, allowed: null };
    window.addEventListener("message", function (e) {
      var d = e.data;
      if (d.kind === "sub" && d.opened) pending.opened = d;
      else if (d.kind === "sub") pending.sub = d;
      else if (d.kind === "remote") pending.allowed = d;
    });
    ["sub.html", "http://127.0.0.1:" + T.environment("CORVANE_E2E_ALLOWED_PORT") + "/remote.html"].forEach(function (src) {
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
    R.queuedNotAtOnce = queued.length;

    // Plain events come after the current work.
    var plain = 0;
    document.addEventListener("corvaneplain", function () { plain++; });
    T.fireEvent("corvaneplain");
    R.plainEventQueued = plain === 0;

    // Resizing the window fires "orientationchange" on the document.
    var resized = 0;
    document.addEventListener("orientationchange", function () { resized++; });
    T.resize(900, 640);

    // Panels: confirm answers true only for "Yes".
    T.answerNextPanel("Yes");
    R.confirmYes = confirm("Yes?");
    T.answerNextPanel("No");
    R.confirmNo = confirm("No?");
    T.answerNextPanel("close");
    R.confirmClosed = confirm("Close?");
    T.answerNextPanel("OK");
    alert("alert panel");
    R.alertReturned = true;

    await E2E.until(function () {
      return queued.length === 200 && plain === 1 && resized > 0 && pending.sub && pending.opened && pending.allowed;
    }, 30000);
    R.queued = queued;
    R.plainEvents = plain;
    R.orientationchange = resized;
    R.innerSize = [window.innerWidth, window.innerHeight];
    R.sub = pending.sub;
    R.opened = pending.opened;
    R.allowedFrame = pending.allowed;
    return R;
  }

  E2E.run(function () { return state && state.phase === "reloaded" ? afterReload() : firstLoad(); });
})();
