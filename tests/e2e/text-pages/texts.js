// Texts holding U+0000 or an unpaired surrogate, into every text-taking
// method of app and path and back every way. Texts must cross whole; an
// unpaired surrogate becomes U+FFFD; a path holding U+0000 names no file.
(function () {
  var T = corvane.test, P = corvane.path, A = corvane.app, expect = E2E.expect;
  var NUL = "\u0000", LONE = "\ud800", LOW = "\udc00", FFFD = "\ufffd";

  async function run() {
    var app = P.application();
    var file = app + "/Contents/Info.plist";
    var note = T.environment("CORVANE_E2E_HANDOFF") + "/note.txt";

    // Every path check: the prefixes (a file, a folder) answer as they are,
    // so a cut text would show; the whole path names no file
    // (fileIsZeroSize answers true where nothing is, as for any missing path).
    var prefixes = { pathIsExist: [true, true], fileIsZeroSize: [false, false], checkPathIsWritable: [false, true],
      checkPathIsReadable: [true, true], checkPathIsExecutable: [false, true], checkPathIsDeletable: [true, true],
      checkPathIsFile: [true, false], checkPathIsDir: [false, true] };
    Object.keys(prefixes).forEach(function (m) {
      expect(m + " of the prefixes", [P[m](file), P[m](app)], prefixes[m]);
      var none = m === "fileIsZeroSize";
      expect(m + " with U+0000 or a surrogate", [P[m](file + NUL + ".png"), P[m](app + NUL + "/nothing"),
        P[m](file + LONE)], [none, none, none]);
    });
    expect("property", [P.getFilePropertyJSONString(file).length > 0, P.getFilePropertyJSONString(file + NUL)],
      [true, ""]);
    expect("icon", P.getFileOrDirIconPath(file + NUL + ".png"), "");
    expect("sizes", [A.fileSizeAtPath(app) > 0, A.fileSizeAtPath(app + NUL), A.diskSizeAtPath(app + NUL + "/x")],
      [true, 0, 0]);

    // Name pieces are pieces of the whole text.
    expect("name with a surrogate", P.getFileName("/a/abc" + LONE + "def"), "abc" + FFFD + "def");
    expect("name with U+0000", P.getFileName("/a/x" + NUL + "y"), "x" + NUL + "y");
    expect("name without ext", P.getFileNameWithoutExt("/a/n" + NUL + ".t" + LOW), "n" + NUL);
    expect("ext", P.getFileExt("/a/n.t" + NUL + "t"), "t" + NUL + "t");
    expect("parent", P.getPathParentPath("/a" + NUL + "b/c"), "/a" + NUL + "b");
    expect("env", P.getUpdateEnvString("${HOME}" + NUL + LONE), P.homeDir() + NUL + FFFD);
    var temp = P.getNewTempFilePath("n" + NUL + LONE);
    expect("temp file name", temp.slice(temp.lastIndexOf("_")), "_n" + NUL + FFFD);
    expect("temp file in temp", temp.indexOf(P.tempDir()), 0);

    // App texts.
    expect("md5", [A.md5Digest("a" + NUL + "b"), A.md5Digest(LONE), A.md5Digest("\ud83d\ude00")],
      ["70350f6027bce3713f6b76473084309b", "9b759040321a408a5c7768b4511287a6", "2a02eac39d716a70ecf37579185927b6"]);
    expect("language set", A.setUserLanguage("x" + NUL + "y" + LONE), true);
    expect("language", A.curUserLanguage(), "x" + NUL + "y" + FFFD);
    A.setUserLanguage("en");
    var agent = navigator.userAgent;
    A.setCustomUserAgent("Agent" + NUL + "Cut");
    expect("agent kept", navigator.userAgent, agent);
    // Hand-offs: none of these may reach a handler with a shorter text.
    A.open("corvanetest://cut" + NUL + "/rest");
    A.openFile(note + NUL + ".png");
    A.launch("Corvane Recorder" + NUL + "x");
    A.sendEmailWithMail(JSON.stringify({ toAddress: "someone@example.com", subject: "s" + NUL + "t" + LONE }));

    // Return values (reversed: no pair); values that carry native objects
    // take another way into the page.
    expect("echoed text", T.echo("a" + NUL + "b" + LOW + LONE + "\ud83d\ude00"),
      "a" + NUL + "b" + FFFD + FFFD + "\ud83d\ude00");
    var o = {};
    o["k" + NUL] = ["v" + NUL, LONE];
    var want = {};
    want["k" + NUL] = ["v" + NUL, FFFD];
    expect("echoed object", T.echo(o), want);
    var inner = {};
    inner["p" + NUL + "q"] = corvane.path;
    var withObject = T.echo([NUL + LONE, inner]);
    expect("echoed with an object", [withObject[0], Object.keys(withObject[1]), withObject[1]["p" + NUL + "q"] ===
      corvane.path], [NUL + FFFD, ["p" + NUL + "q"], true]);

    // Callbacks by name, at once; the callback's argument is the params'
    // own text (JSON.stringify writes the surrogate as an escape).
    var got = null;
    window.onNow = function (r) { got = r; };
    T.callNow(JSON.stringify({ callback: "onNow", value: "c" + NUL + LONE }));
    expect("callback by name", got && got.value, "c" + NUL + FFFD);
    // A callback name holding U+0000 names no function of the page.
    var cut = 0;
    window.onCut = function () { cut++; };
    T.callNow(JSON.stringify({ callback: "onCut" + NUL + "x", value: 1 }));
    expect("calls of a cut name", cut, 0);

    // Page functions, inside a call and later; events with data, at once.
    var seen = [];
    T.keepFunction(function (v) { seen.push(v); });
    T.callKept("f" + NUL + LONE);
    var ko = {};
    ko["key" + NUL] = "val" + NUL;
    T.callKept(ko);
    expect("function args", seen, ["f" + NUL + FFFD, ko]);
    var data = null;
    document.addEventListener("corvanetext", function (e) { data = e.data; });
    T.fireEventWithData("corvanetext", { s: "e" + NUL + LONE });
    expect("event data", data, { s: "e" + NUL + FFFD });
    var later = null;
    T.keepFunction(function (v, tag) { later = [v, tag]; });
    T.callKeptLater("l" + NUL + LONE);
    await E2E.until(function () { return later; }, 30000);
    expect("function called later", later, ["l" + NUL + FFFD, "later"]);
    return { mismatches: E2E.mismatches };
  }

  E2E.run(run);
})();
