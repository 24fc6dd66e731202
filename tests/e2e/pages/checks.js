// The bridge end-to-end checks, as loaded and after a reload; the native
// test object keeps the state in between.
(function () {
  var T = corvane.test;
  var state = T.getValue();

  function identity(prefix, R) {
    R[prefix + "sameRoot"] = window.corvane === window.quorlix && window.quorlix === window.ZVRLabJs;
    R[prefix + "samePath"] = corvane.path === quorlix.path && quorlix.path === ZVRLabJs.path;
    R[prefix + "pathStable"] = corvane.path === corvane.path;
    R[prefix + "rootType"] = typeof corvane;
  }

  function firstLoad() {
    var R = {};
    R.envAtFirstScript = window.envAtFirstScript;
    identity("first.", R);

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

    // Values come back as they went.
    R.echo = T.echo({ n: 1.5, s: "x", b: true, a: [1, "two", null], o: { k: "v" } });
    R.echoString = T.echo("plain");
    R.undefinedResult = typeof T.setValue(null);
    // Native objects keep their script identity when they travel.
    R.objectIdentity = T.echo(corvane.path) === corvane.path;
    R.objectInside = T.echo({ p: [corvane.path, corvane.test] });
    R.objectInside = R.objectInside.p[0] === corvane.path && R.objectInside.p[1] === corvane.test;

    // Function objects: called at once inside a call, later outside one.
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
    var app = P.application();
    var file = app + "/Contents/Info.plist";
    var empty = P.resource() + "/public/empty.txt";
    var none = app + "/no/such/thing";
    R.checks = {
      pathIsExist: [P.pathIsExist(app), P.pathIsExist(none)],
      fileIsZeroSize: [P.fileIsZeroSize(empty), P.fileIsZeroSize(file)],
      checkPathIsWritable: [P.checkPathIsWritable(app), P.checkPathIsWritable(file), P.checkPathIsWritable(none)],
      checkPathIsReadable: [P.checkPathIsReadable(file), P.checkPathIsReadable(none)],
      checkPathIsExecutable: [P.checkPathIsExecutable(app + "/Contents/MacOS/BridgeTest"), P.checkPathIsExecutable(file)],
      checkPathIsDeletable: [P.checkPathIsDeletable(file), P.checkPathIsDeletable(none)],
      checkPathIsFile: [P.checkPathIsFile(file), P.checkPathIsFile(app)],
      checkPathIsDir: [P.checkPathIsDir(app), P.checkPathIsDir(file)]
    };
    R.texts = {
      getNewTempFilePath: P.getNewTempFilePath("png"),
      getFileName: P.getFileName("/a/b/c.tar.gz"),
      getFileNameWithoutExt: P.getFileNameWithoutExt("/a/b/c.tar.gz"),
      getFileExt: P.getFileExt("/a/b/c.tar.gz"),
      getPathParentPath: P.getPathParentPath("/a/b/c.tar.gz"),
      getFilePropertyJSONString: P.getFilePropertyJSONString(file),
      getFileOrDirIconPath: P.getFileOrDirIconPath(file),
      getUpdateEnvString: P.getUpdateEnvString("${HOME}/x ${APP_NAME}"),
      getUpdateEnvStringEmpty: P.getUpdateEnvString(""),
      getUpdateEnvStringMissing: P.getUpdateEnvString()
    };
    R.defaultNamesAbsent = typeof P.getATempFilePath_ === "undefined" && typeof P.printInfo === "undefined";
    R.hiddenRootSelectors = typeof corvane.helloSchema === "undefined";

    T.setValue({ phase: "reloaded", first: R });
    location.reload();
  }

  async function afterReload() {
    var R = state.first;
    identity("reload.", R);
    R.nativeStateKept = state.phase;

    var pending = { sub: null, opened: null, allowed: null, refused: null };
    window.addEventListener("message", function (e) {
      var d = e.data;
      if (d.kind === "sub" && d.opened) pending.opened = d;
      else if (d.kind === "sub") pending.sub = d;
      else if (d.kind === "remote" && d.port === String(window.allowedPort)) pending.allowed = d;
      else if (d.kind === "remote") pending.refused = d;
    });
    var ports = JSON.parse(T.environment("CORVANE_E2E_PORTS"));
    window.allowedPort = ports.allowed;
    [["sub.html"], ["http://127.0.0.1:" + ports.allowed + "/remote.html"],
     ["http://127.0.0.1:" + ports.refused + "/remote.html"]].forEach(function (src) {
      var f = document.createElement("iframe");
      f.src = src[0];
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

    // A held function called from outside any call.
    var later = null;
    T.keepFunction(function (v, tag) { later = [v, tag]; });
    T.callKeptLater(8);

    // Plain events come after the current work; events with data at once.
    var plain = 0, data = null;
    document.addEventListener("corvaneplain", function () { plain++; });
    document.addEventListener("corvanedata", function (e) { data = e.data; });
    T.fireEvent("corvaneplain");
    R.plainEventQueued = plain === 0;
    T.fireEventWithData("corvanedata", { x: 1, s: "y" });
    R.dataEventAtOnce = data;

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
      return queued.length === 200 && later && plain === 1 && resized > 0 && pending.sub && pending.opened && pending.allowed &&
        pending.refused;
    }, 30000);
    R.queued = queued;
    R.later = later;
    R.plainEvents = plain;
    R.orientationchange = resized;
    R.innerSize = [window.innerWidth, window.innerHeight];
    R.sub = pending.sub;
    R.opened = pending.opened;
    R.allowedFrame = pending.allowed;
    R.refusedFrame = pending.refused;
    return R;
  }

  E2E.run(function () { return state && state.phase === "reloaded" ? afterReload() : firstLoad(); });
})();
