// Texts holding U+0000 or an unpaired surrogate, into every text-taking
// method of app and path and back every way. Texts must cross whole; an
// unpaired surrogate becomes U+FFFD; a path holding U+0000 names no file.
(function () {
  var T = corvane.test, P = corvane.path, A = corvane.app;
  var NUL = "\u0000", LONE = "\ud800", LOW = "\udc00", FFFD = "\ufffd";

  async function run() {
    var R = {};
    var app = P.application();
    var file = app + "/Contents/Info.plist";
    var handoff = T.environment("CORVANE_E2E_HANDOFF");
    var note = handoff + "/note.txt";

    // Every path check: the prefix exists, the whole path names no file.
    var checks = ["pathIsExist", "fileIsZeroSize", "checkPathIsWritable", "checkPathIsReadable",
      "checkPathIsExecutable", "checkPathIsDeletable", "checkPathIsFile", "checkPathIsDir"];
    R.prefixes = {};
    R.paths = {};
    checks.forEach(function (m) {
      R.prefixes[m] = [P[m](file), P[m](app)];
      R.paths[m] = [P[m](file + NUL + ".png"), P[m](app + NUL + "/nothing"), P[m](file + LONE)];
    });
    R.property = [P.getFilePropertyJSONString(file).length > 0, P.getFilePropertyJSONString(file + NUL)];
    R.icon = P.getFileOrDirIconPath(file + NUL + ".png");
    R.sizes = [A.fileSizeAtPath(app) > 0, A.fileSizeAtPath(app + NUL), A.diskSizeAtPath(app + NUL + "/x")];

    // Name pieces are pieces of the whole text.
    R.names = {
      surrogate: P.getFileName("/a/abc" + LONE + "def"),
      nul: P.getFileName("/a/x" + NUL + "y"),
      withoutExt: P.getFileNameWithoutExt("/a/n" + NUL + ".t" + LOW),
      ext: P.getFileExt("/a/n.t" + NUL + "t"),
      parent: P.getPathParentPath("/a" + NUL + "b/c"),
      env: P.getUpdateEnvString("${HOME}" + NUL + LONE)
    };
    var temp = P.getNewTempFilePath("n" + NUL + LONE);
    R.tempEnd = temp.slice(temp.lastIndexOf("_"));
    R.tempInTemp = temp.indexOf(P.tempDir()) === 0;

    // App texts.
    R.md5 = [A.md5Digest("a" + NUL + "b"), A.md5Digest(LONE), A.md5Digest("\ud83d\ude00")];
    R.languageSet = A.setUserLanguage("x" + NUL + "y" + LONE);
    R.language = A.curUserLanguage();
    A.setUserLanguage("en");
    var agent = navigator.userAgent;
    A.setCustomUserAgent("Agent" + NUL + "Cut");
    R.agentKept = navigator.userAgent === agent;
    // Hand-offs: none of these may reach a handler with a shorter text.
    A.open("corvanetest://cut" + NUL + "/rest");
    A.openFile(note + NUL + ".png");
    A.launch("Corvane Recorder" + NUL + "x");
    A.sendEmailWithMail(JSON.stringify({ toAddress: "someone@example.com", subject: "s" + NUL + "t" + LONE }));

    // Return values.
    R.echoText = T.echo("a" + NUL + "b" + LOW + LONE + "\ud83d\ude00");  // reversed: no pair
    var key = "k" + NUL;
    var o = {};
    o[key] = ["v" + NUL, LONE];
    R.echoObject = T.echo(o);
    var inner = {};
    inner["p" + NUL + "q"] = corvane.path;
    var withObject = T.echo([NUL + LONE, inner]);
    R.echoWithObject = [withObject[0], Object.keys(withObject[1]), withObject[1]["p" + NUL + "q"] === corvane.path];

    // Callbacks by name, at once; the callback's argument is the params'
    // own text (JSON.stringify writes the surrogate as an escape).
    var got = null;
    window.onNow = function (r) { got = r; };
    T.callNow(JSON.stringify({ callback: "onNow", value: "c" + NUL + LONE }));
    R.callbackByName = got && got.value;
    // A callback name holding U+0000 names no function of the page.
    var cut = 0;
    window.onCut = function () { cut++; };
    T.callNow(JSON.stringify({ callback: "onCut" + NUL + "x", value: 1 }));
    R.cutNameCalls = cut;

    // Page functions, inside a call and later.
    var seen = [];
    T.keepFunction(function (v) { seen.push(v); });
    T.callKept("f" + NUL + LONE);
    var ko = {};
    ko["key" + NUL] = "val" + NUL;
    T.callKept(ko);
    R.functionArgs = seen.slice();

    // Events with data, at once.
    var data = null;
    document.addEventListener("corvanetext", function (e) { data = e.data; });
    T.fireEventWithData("corvanetext", { s: "e" + NUL + LONE });
    R.eventData = data;

    var later = null;
    T.keepFunction(function (v, tag) { later = [v, tag]; });
    T.callKeptLater("l" + NUL + LONE);
    await E2E.until(function () { return later; }, 30000);
    R.later = later;
    return R;
  }

  E2E.run(run);
})();
