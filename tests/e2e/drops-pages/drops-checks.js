// Drops, change watchers, capture and print, the info store and the file
// writer end to end. Where a person acts (a drop, an alert, the print
// dialog) or the test changes files, the page names the step in the console
// ("E2E-STEP name data") and waits for <ack folder>/<name>. Findings go to
// corvane.test.finish() at the end.
(function () {
  var T = corvane.test;
  var W = corvane.window;
  var B = corvane.binaryFileWriter;
  var P = corvane.path;
  var R = {};
  var answers = {};

  function cb(name) {
    window["cb_" + name] = function (r) { answers[name] = r; };
    return "cb_" + name;
  }
  function call(obj, method, name, params) {
    params.callback = cb(name);
    var direct = obj[method](JSON.stringify(params));
    return { answer: answers[name], direct: direct };
  }
  var ackDir = T.environment("CORVANE_E2E_ACK");
  var s = T.environment("CORVANE_E2E_SCRATCH");
  function sleep(ms) { return new Promise(function (r) { setTimeout(r, ms); }); }
  async function until(cond, ms) {
    for (var i = 0; i < ms / 50 && !cond(); ++i) await sleep(50);
    return cond();
  }
  async function step(name, data) {
    console.log("E2E-STEP " + name + " " + JSON.stringify(data || {}));
    return until(function () { return P.pathIsExist(ackDir + "/" + name); }, 120000);
  }

  function store() {
    var S = R.store = {};
    var info = { name: "x", n: 3, ok: true, no: false, list: [1, "a", { b: 2.5 }], d: { e: -7 } };
    S.saved = call(W, "saveAppInfoToLocal", "sv", { filePath: s + "/info.plist", appInfo: info }).answer;
    S.read = call(W, "getAppInfoFromLocal", "rd", { filePath: s + "/info.plist" }).answer;
    S.info = info;
    S.savedArray = call(W, "saveAppInfoToLocal", "sva", { filePath: s + "/arr.plist", appInfo: [1, 2] }).answer;
    S.readArray = call(W, "getAppInfoFromLocal", "rda", { filePath: s + "/arr.plist" }).answer;
    S.text = call(W, "saveAppInfoToLocal", "svt", { filePath: s + "/t.plist", appInfo: "text" }).answer;
    S.missing = call(W, "getAppInfoFromLocal", "rdm", { filePath: s + "/none.plist" }).answer;
    S.setFalse = call(W, "setInfoToUserDefaults", "d1", { key: "e2e.flag", value: false }).answer;
    S.getFalse = call(W, "getInfoFromUserDefaults", "d2", { key: "e2e.flag" }).answer;
    S.setEmpty = call(W, "setInfoToUserDefaults", "d3", { key: "e2e.empty", value: "" }).answer;
    S.getEmpty = call(W, "getInfoFromUserDefaults", "d4", { key: "e2e.empty" }).answer;
    S.setObject = call(W, "setInfoToUserDefaults", "d5", { key: "e2e.obj", value: { a: [1, { b: "c" }] } }).answer;
    S.getObject = call(W, "getInfoFromUserDefaults", "d6", { key: "e2e.obj" }).answer;
    S.setNoValue = call(W, "setInfoToUserDefaults", "d7", { key: "e2e.none", value: null }).answer;
    S.getNever = call(W, "getInfoFromUserDefaults", "d8", { key: "e2e.never" }).answer;
    S.removeNever = call(W, "removeItemFromUserDefaults", "d9", { key: "e2e.never" }).answer;
    S.remove = call(W, "removeItemFromUserDefaults", "d10", { key: "e2e.flag" }).answer;
    S.afterRemove = call(W, "getInfoFromUserDefaults", "d11", { key: "e2e.flag" }).answer;
    S.noKey = call(W, "getInfoFromUserDefaults", "d12", {}).answer;
    S.launch = call(W, "getInfoFromUserDefaults", "d13", { key: "sys_firstLaunchTime" }).answer;
    S.other = JSON.parse(W.getOtherAppInfo(JSON.stringify({ path: T.environment("CORVANE_E2E_BUNDLE") })));
    S.otherPlain = call(W, "getOtherAppInfo", "oa", { path: s }).answer;
    S.otherNone = JSON.parse(W.getOtherAppInfo(JSON.stringify({ path: s + "/nothing" })));
  }

  function samplePng() {
    var c = document.createElement("canvas");
    c.width = 40; c.height = 30;
    var g = c.getContext("2d");
    g.fillStyle = "#3060c0"; g.fillRect(0, 0, 40, 30);
    g.fillStyle = "#ffcc00"; g.fillRect(10, 5, 20, 20);
    var b64 = c.toDataURL("image/png").split(",")[1];
    // Line breaks every 60 characters, as mail and PEM texts have them.
    return b64.replace(/(.{60})/g, "$1\r\n");
  }

  async function writer() {
    var X = R.writer = {};
    X.bytes = call(B, "writeBinaryArray", "w1", { filePath: s + "/out/deep/bytes.bin", data: [0, 255, 256, -1] }).answer;
    X.chunk1 = call(B, "writeBinaryArray", "w2", { filePath: s + "/chunks.bin", data: [1, 2, 3], offset: 0 }).answer;
    X.chunk2 = call(B, "writeBinaryArray", "w3", { filePath: s + "/chunks.bin", data: [4, 5], offset: 3, dataAppend: true }).answer;
    call(B, "writeBinaryArray", "w4a", { filePath: s + "/gap.bin", data: [1] });
    X.gap = call(B, "writeBinaryArray", "w4", { filePath: s + "/gap.bin", data: [9], offset: 3 }).answer;
    X.empty = call(B, "writeBinaryArray", "w5", { filePath: s + "/empty.bin", data: [] }).answer;
    X.replace = call(B, "writeBinaryArray", "w6", { filePath: s + "/replace.bin", data: [7], offset: 100, dataAppend: false }).answer;
    X.base64 = call(B, "base64ToFile", "w7", { filePath: s + "/b64.txt", base64String: "SGVs\nbG8s\r\nIHdv cmxk\nIQ==" }).answer;
    X.text = call(B, "writeTextToFile", "w8", { filePath: s + "/t.txt", text: "héllo" }).answer;
    X.textMore = call(B, "writeTextToFile", "w9", { filePath: s + "/t.txt", text: " more", offset: 6 }).answer;
    X.noText = call(B, "writeTextToFile", "w10", { filePath: s + "/t2.txt" }).answer;
    X.badData = call(B, "writeBinaryArray", "w11", { filePath: s + "/bad.bin", data: "not an array" }).answer;
    X.badParams = call(B, "writeBinaryArray", "w12", { filePath: 42, data: [1] }).answer;
    X.truncated = B.truncateFile_atPosition_(s + "/chunks.bin", 4);
    try { B.truncateFile_atPosition_(s + "/a-folder", 0); X.truncatedFolder = "no exception"; }
    catch (e) { X.truncatedFolder = String(e.message || e); }
    window.cb_inner = function (r) { answers.inner = r; };
    B.writeBinaryToFile_withArrayData_append_withCallback_(null, [1], true, "cb_inner");
    X.innerNullPath = answers.inner;
    await step("writer-alert");
    X.alert = call(B, "writeBinaryArray", "wa", { filePath: s + "/blocker/x.bin", data: [1] }).answer;
    // A folder where the file should be: the append's cut and the
    // replacement both end in the same alert and answer.
    X.alertFolder = call(B, "writeBinaryArray", "waf", { filePath: s + "/a-folder", data: [1], offset: 0 }).answer;
    X.alertFolderReplace = call(B, "writeTextToFile", "wafr", { filePath: s + "/a-folder", text: "x", dataAppend: false }).answer;

    var png = samplePng();
    X.images = {};
    ["png", "gif", "tiff", "tif", "jpeg", "jpg", "bmp", "pdf", "eps", "webp"].forEach(function (t) {
      X.images[t] = call(B, "base64ToImageFile", "img" + t, { filePath: s + "/img/pic-" + t, base64String: png, imageType: t }).answer;
    });
    X.convert = call(B, "imageFileConvertToOthers", "conv", { orgFilePath: s + "/img/pic-png", filePath: s + "/img/conv.gif", imageType: "gif" }).answer;
    X.convertMissing = call(B, "imageFileConvertToOthers", "convm", { orgFilePath: s + "/none.png", filePath: s + "/img/x.png", imageType: "png" }).answer;
    X.notImage = call(B, "base64ToImageFile", "noimg", { filePath: s + "/img/no.png", base64String: "bm90IGFuIGltYWdl", imageType: "png" }).answer;

    var names = JSON.parse(T.environment("CORVANE_E2E_ENCODINGS"));
    X.texts = {};
    names.forEach(function (n) {
      X.texts[n] = B.getTextFromFile(JSON.stringify({ filePath: s + "/enc/" + n + ".txt", encode: n, async: false, callback: cb("never") }));
    });
    X.syncCalledBack = answers.never !== undefined;
    X.byNumber = B.getTextFromFile(JSON.stringify({ filePath: s + "/enc/isolatin1.txt", NSStringEncoding: 5, async: false }));
    X.asyncDirect = B.getTextFromFile(JSON.stringify({ filePath: s + "/enc/utf16littleendian.txt", encode: "  UTF16LittleEndian \n", callback: cb("async") }));
    X.asyncMissingDirect = B.getTextFromFile(JSON.stringify({ filePath: s + "/none.txt", callback: cb("asyncMissing") }));
    await until(function () { return answers.async && answers.asyncMissing; }, 20000);
    X.async = answers.async;
    X.asyncMissing = answers.asyncMissing;
  }

  async function watchers() {
    var V = R.watch = {};
    window.watchEvents = [];
    window.onWatch = function (r) { watchEvents.push(["file", r.path, r.flag]); };
    window.onWatchDir = function (r) { watchEvents.push(["dir", r.path, r.flag]); };
    window.onWatchDelete = function (r) { watchEvents.push(["deleteOnly", r.path, r.flag]); };
    var wf = s + "/watched.txt", wd = s + "/watched-dir";
    V.fileOnFolder = W.createFileChangeWatcher(JSON.stringify({ path: wd, callback: "onWatch" }));
    V.dirOnFile = W.createDirChangeWatcher(JSON.stringify({ path: wf, callback: "onWatch" }));
    V.missing = W.createFileChangeWatcher(JSON.stringify({ path: s + "/nope", callback: "onWatch" }));
    V.noPath = W.createFileChangeWatcher(JSON.stringify({ callback: "onWatch" }));
    V.file = W.createFileChangeWatcher(JSON.stringify({ path: wf, callback: "onWatch" }));
    V.dir = W.createDirChangeWatcher(JSON.stringify({ path: wd, callback: "onWatchDir" }));
    V.deleteOnly = W.createFileChangeWatcher(JSON.stringify({ path: wf, callback: "onWatchDelete", flags: 1 }));
    await step("watch-changes");
    function seen(kind, flag) {
      return watchEvents.some(function (e) { return e[0] === kind && e[2] === flag; });
    }
    await until(function () {
      return ["FileWritten", "FileSizeIncreased", "FileAttributesChanged", "LinkCountChanged", "FileRenamed", "FileDeleted"]
        .every(function (f) { return seen("file", f); }) && seen("dir", "FileWritten") && seen("dir", "LinkCountChanged") &&
        seen("deleteOnly", "FileDeleted");
    }, 20000);
    V.events = watchEvents.slice();
    // Both watchers of the file go with one removal; afterwards nothing calls.
    call(B, "writeTextToFile", "wrw", { filePath: wf, text: "back" });
    V.removeMissing = W.removeFromChangeWatcher(JSON.stringify({ path: s + "/nope" }));
    V.removeFile = W.removeFromChangeWatcher(JSON.stringify({ path: wf }));
    V.removeDir = W.removeFromChangeWatcher(JSON.stringify({ path: wd }));
    V.removeAgain = W.removeFromChangeWatcher(JSON.stringify({ path: wd }));
    // Events of the write above that the shell sent before the removal may
    // still be on their way to this page: let them land before counting.
    await sleep(500);
    var before = watchEvents.length;
    call(B, "writeTextToFile", "wrw2", { filePath: wf, text: " and more", offset: 4 });
    call(B, "writeTextToFile", "wrw3", { filePath: wd + "/late.txt", text: "late" });
    await sleep(1500);
    V.eventsAfterRemoval = watchEvents.length - before;
  }

  async function drops() {
    var D = R.drops = {};
    window.dropped = [];
    window.handed = [];
    // A page with neither hook (no `app` at all), then one with the page
    // host's hook alone: each drop must pass without an error.
    D.noApp = typeof window.app;
    await step("drop-bare");
    await step("drop-bare-done");
    ZVRLabJs.handleDropFiles = function (paths) { handed.push(paths); };
    D.hookSameUnderEveryName = quorlix.handleDropFiles === ZVRLabJs.handleDropFiles;
    await step("drop-host");
    await until(function () { return handed.length > 0; }, 30000);
    D.hostOnly = handed.slice();
    window.app = {};
    app.dragDropJSCallback = function (r) { dropped.push(r); };
    await step("drop-accept");
    await until(function () { return dropped.length > 0; }, 30000);
    D.accepted = dropped.shift();
    window.onDrop2 = function (r) { dropped.push(r); };
    W.setDragDropAllowFileTypes(JSON.stringify({ fileTypes: ["png"] }));
    W.setDragDropCallback(JSON.stringify({ callback: "onDrop2" }));
    await step("drop-reject");
    await step("drop-reject-done");
    D.callsAfterReject = dropped.length;
    W.setDragDropConfig(JSON.stringify({ enableFile: false, enableDir: false, fileTypes: ["*"] }));
    await step("drop-none");
    await step("drop-none-done");
    D.callsAfterNone = dropped.length;
    W.setDragDropConfig(JSON.stringify({ enableFile: true, enableDir: true, enableCalculateFolderSize: true }));
    W.setDragDropAllowFileTypes(JSON.stringify({ fileTypes: 3 }));  // not an array: logged, kept
    D.typesKept = W.dragDropAllowFileTypes();
    D.settings = [W.allowDragDropFile(), W.allowDragDropDirectory(), W.allowDragDropCalculateFolderSize(), W.dragDropJSCallback()];
    await step("open-files");
    await until(function () { return dropped.length > 0; }, 30000);
    D.opened = dropped.shift();
    await until(function () { return handed.length >= 5; }, 30000);
    D.handed = handed.slice();
  }

  async function captureAndPrint() {
    var C = R.capture = {};
    C.shot = call(W, "capture", "cap", { filePath: s + "/shot.png" }).answer;
    C.noPath = call(W, "capture", "cap2", {}).answer === undefined;
    C.pdfAtOnce = call(W, "printToPDF", "pdf", { filePath: "file://" + s + "/page.pdf" }).answer === undefined;
    call(W, "printToPDF", "pdf2", { filePath: s + "/page2.pdf" });
    C.relative = call(W, "printToPDF", "pdf3", { filePath: "page3.pdf" }).answer;
    await until(function () { return answers.pdf && answers.pdf2; }, 60000);
    C.pdf = answers.pdf;
    C.pdf2 = answers.pdf2;
    C.pdfThere = P.pathIsExist(s + "/page.pdf");
    await step("print");
    C.print = call(W, "print", "pr", { silent: true }).answer;
  }

  async function stream() {
    // Writes as fast as the page can until the test kills the shell.
    var big = new Array(20001).join("x");
    var i = 0;
    console.log("E2E-STEP stream-started {}");
    for (;;) {
      for (var k = 0; k < 5; ++k) {
        ++i;
        W.setInfoToUserDefaults(JSON.stringify({ key: "stream", value: { i: i, big: big } }));
        W.saveAppInfoToLocal(JSON.stringify({ filePath: s + "/stream.plist", appInfo: { i: i, big: big } }));
      }
      await sleep(0);
    }
  }

  window.addEventListener("load", async function () {
    try {
      var phase = T.environment("CORVANE_E2E_PHASE");
      if (phase === "stream") return stream();
      store();
      await writer();
      await watchers();
      await drops();
      await captureAndPrint();
      T.finish(JSON.stringify(R));
    } catch (e) {
      T.finish(JSON.stringify({ pageError: String(e) + " " + (e.stack || ""), partial: R }));
    }
  });
})();
