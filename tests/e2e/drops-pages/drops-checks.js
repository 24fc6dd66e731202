// Drops, change watchers, capture and print, the info store and the file
// writer, through the bridge. A person's drops, alerts and print dialog,
// and the file changes, are the driver's steps.
E2E.run(async function () {
  var T = corvane.test, W = corvane.window, B = corvane.binaryFileWriter, P = corvane.path;
  var s = T.environment("CORVANE_E2E_SCRATCH");
  var R = {}, answers = {}, seq = 0;

  // A callback-taking method: what the callback got during the call, and
  // what the call answered itself.
  function call(obj, method, params, name) {
    name = name || "c" + ++seq;
    window["cb_" + name] = function (r) { answers[name] = r; };
    params.callback = "cb_" + name;
    var direct = obj[method](JSON.stringify(params));
    return { answer: answers[name], direct: direct };
  }
  function answer(obj, method, params) { return call(obj, method, params).answer; }

  if (T.environment("CORVANE_E2E_PHASE") === "stream") {
    // Writes as fast as the page can until the test kills the shell.
    var big = new Array(20001).join("x");
    console.log("E2E-STEP stream-started {}");
    for (var i = 1; ; ++i) {
      W.setInfoToUserDefaults(JSON.stringify({ key: "stream", value: { i: i, big: big } }));
      W.saveAppInfoToLocal(JSON.stringify({ filePath: s + "/stream.plist", appInfo: { i: i, big: big } }));
      if (i % 5 === 0) await E2E.sleep(0);
    }
  }

  var S = R.store = {};
  S.info = { name: "x", list: [1, "a", { b: 2.5 }] };
  answer(W, "saveAppInfoToLocal", { filePath: s + "/info.plist", appInfo: S.info });
  S.read = answer(W, "getAppInfoFromLocal", { filePath: s + "/info.plist" });
  answer(W, "setInfoToUserDefaults", { key: "e2e.flag", value: false });
  answer(W, "setInfoToUserDefaults", { key: "e2e.empty", value: "" });
  S.remove = answer(W, "removeItemFromUserDefaults", { key: "e2e.flag" });
  S.other = JSON.parse(W.getOtherAppInfo(JSON.stringify({ path: T.environment("CORVANE_E2E_BUNDLE") })));
  S.otherPlain = answer(W, "getOtherAppInfo", { path: s });
  S.otherNone = JSON.parse(W.getOtherAppInfo(JSON.stringify({ path: s + "/nothing" })));

  var X = R.writer = {};
  X.bytes = answer(B, "writeBinaryArray", { filePath: s + "/out/deep/bytes.bin", data: [0, 255, 256, -1] });
  answer(B, "writeBinaryArray", { filePath: s + "/chunks.bin", data: [1, 2, 3], offset: 0 });
  X.chunk2 = answer(B, "writeBinaryArray", { filePath: s + "/chunks.bin", data: [4, 5], offset: 3, dataAppend: true });
  answer(B, "writeBinaryArray", { filePath: s + "/gap.bin", data: [1] });
  answer(B, "writeBinaryArray", { filePath: s + "/gap.bin", data: [9], offset: 3 });
  X.empty = answer(B, "writeBinaryArray", { filePath: s + "/empty.bin", data: [] });
  answer(B, "writeBinaryArray", { filePath: s + "/replace.bin", data: [7], offset: 100, dataAppend: false });
  X.base64 = answer(B, "base64ToFile", { filePath: s + "/b64.txt", base64String: "SGVs\nbG8s\r\nIHdv cmxk\nIQ==" });
  answer(B, "writeTextToFile", { filePath: s + "/t.txt", text: "héllo" });
  answer(B, "writeTextToFile", { filePath: s + "/t.txt", text: " more", offset: 6 });
  X.noText = answer(B, "writeTextToFile", { filePath: s + "/t2.txt" });
  X.badData = answer(B, "writeBinaryArray", { filePath: s + "/bad.bin", data: "not an array" });
  X.badParams = answer(B, "writeBinaryArray", { filePath: 42, data: [1] });
  X.truncated = B.truncateFile_atPosition_(s + "/chunks.bin", 4);
  try { B.truncateFile_atPosition_(s + "/a-folder", 0); X.truncatedFolder = "no exception"; }
  catch (e) { X.truncatedFolder = String(e.message || e); }
  window.cb_inner = function (r) { X.innerNullPath = r; };
  B.writeBinaryToFile_withArrayData_append_withCallback_(null, [1], true, "cb_inner");
  await E2E.step("writer-alert");
  X.alert = answer(B, "writeBinaryArray", { filePath: s + "/blocker/x.bin", data: [1] });
  // A folder where the file should be: the append's cut and the
  // replacement both end in the same alert and answer.
  X.alertFolder = answer(B, "writeBinaryArray", { filePath: s + "/a-folder", data: [1], offset: 0 });
  X.alertFolderReplace = answer(B, "writeTextToFile", { filePath: s + "/a-folder", text: "x", dataAppend: false });

  var c = document.createElement("canvas");
  c.width = 40; c.height = 30;
  c.getContext("2d").fillRect(10, 5, 20, 20);
  // Line breaks every 60 characters, as mail and PEM texts have them.
  var png = c.toDataURL("image/png").split(",")[1].replace(/(.{60})/g, "$1\r\n");
  X.image = answer(B, "base64ToImageFile", { filePath: s + "/img/pic-gif", base64String: png, imageType: "gif" });
  X.convert = answer(B, "imageFileConvertToOthers", { orgFilePath: s + "/img/pic-gif", filePath: s + "/img/conv.tif", imageType: "tif" });
  X.convertMissing = answer(B, "imageFileConvertToOthers", { orgFilePath: s + "/none.png", filePath: s + "/img/x.png", imageType: "png" });

  X.sync = B.getTextFromFile(JSON.stringify({ filePath: s + "/enc/utf8.txt", encode: "utf8", async: false, callback: "cb_never" }));
  X.syncCalledBack = answers.never !== undefined;
  X.byNumber = B.getTextFromFile(JSON.stringify({ filePath: s + "/enc/isolatin1.txt", NSStringEncoding: 5, async: false }));
  var a = call(B, "getTextFromFile", { filePath: s + "/enc/utf16le.txt", encode: "  UTF16LittleEndian \n" }, "async");
  X.asyncDirect = a.direct;
  call(B, "getTextFromFile", { filePath: s + "/none.txt" }, "asyncMissing");
  await E2E.until(function () { return answers.async && answers.asyncMissing; }, 20000);
  X.async = answers.async;
  X.asyncMissing = answers.asyncMissing;

  var V = R.watch = {};
  var events = [];
  window.onWatch = function (r) { events.push(["file", r.path, r.flag]); };
  window.onWatchDir = function (r) { events.push(["dir", r.path, r.flag]); };
  window.onWatchDelete = function (r) { events.push(["deleteOnly", r.path, r.flag]); };
  var wf = s + "/watched.txt", wd = s + "/watched-dir";
  function watch(method, path, callback, flags) {
    return W[method](JSON.stringify({ path: path, callback: callback, flags: flags }));
  }
  V.made = [watch("createFileChangeWatcher", wd, "onWatch"), watch("createDirChangeWatcher", wf, "onWatch"),
            watch("createFileChangeWatcher", s + "/nope", "onWatch"),
            W.createFileChangeWatcher(JSON.stringify({ callback: "onWatch" })),
            watch("createFileChangeWatcher", wf, "onWatch"), watch("createDirChangeWatcher", wd, "onWatchDir"),
            watch("createFileChangeWatcher", wf, "onWatchDelete", 1)];
  await E2E.step("watch-changes");
  function seen(kind, flag) {
    return events.some(function (e) { return e[0] === kind && e[2] === flag; });
  }
  await E2E.until(function () {
    return seen("file", "FileWritten") && seen("file", "FileDeleted") && seen("dir", "FileWritten") &&
      seen("deleteOnly", "FileDeleted");
  }, 20000);
  V.events = events.slice();
  // Both watchers of the file go with one removal; afterwards nothing calls.
  answer(B, "writeTextToFile", { filePath: wf, text: "back" });
  V.removed = [s + "/nope", wf, wd, wd].map(function (p) {
    return W.removeFromChangeWatcher(JSON.stringify({ path: p }));
  });
  // Events of the write above that the shell sent before the removal may
  // still be on their way to this page: let them land before counting.
  await E2E.sleep(500);
  var before = events.length;
  answer(B, "writeTextToFile", { filePath: wf, text: " and more", offset: 4 });
  answer(B, "writeTextToFile", { filePath: wd + "/late.txt", text: "late" });
  await E2E.sleep(1500);
  V.eventsAfterRemoval = events.length - before;

  var D = R.drops = {};
  var dropped = [], handed = [];
  // A page with neither hook (no `app` at all), then one with the page
  // host's hook alone: each drop must pass without an error.
  D.noApp = typeof window.app;
  await E2E.step("drop-bare");
  await E2E.step("drop-bare-done");
  ZVRLabJs.handleDropFiles = function (paths) { handed.push(paths); };
  D.hookSameUnderEveryName = quorlix.handleDropFiles === ZVRLabJs.handleDropFiles;
  await E2E.step("drop-host");
  await E2E.until(function () { return handed.length > 0; }, 30000);
  D.hostOnly = handed.slice();
  window.app = { dragDropJSCallback: function (r) { dropped.push(r); } };
  await E2E.step("drop-accept");
  await E2E.until(function () { return dropped.length > 0; }, 30000);
  D.accepted = dropped.shift();
  window.onDrop2 = function (r) { dropped.push(r); };
  W.setDragDropAllowFileTypes(JSON.stringify({ fileTypes: ["png"] }));
  W.setDragDropCallback(JSON.stringify({ callback: "onDrop2" }));
  await E2E.step("drop-reject");
  await E2E.step("drop-reject-done");
  D.callsAfterReject = dropped.length;
  W.setDragDropConfig(JSON.stringify({ enableFile: false, enableDir: false, fileTypes: ["*"] }));
  await E2E.step("drop-none");
  await E2E.step("drop-none-done");
  D.callsAfterNone = dropped.length;
  W.setDragDropConfig(JSON.stringify({ enableFile: true, enableDir: true, enableCalculateFolderSize: true }));
  W.setDragDropAllowFileTypes(JSON.stringify({ fileTypes: 3 }));  // not an array: logged, kept
  D.typesKept = W.dragDropAllowFileTypes();
  await E2E.step("open-files");
  await E2E.until(function () { return dropped.length > 0; }, 30000);
  D.opened = dropped.shift();
  await E2E.until(function () { return handed.length >= 5; }, 30000);
  D.handed = handed.slice();

  var C = R.capture = {};
  C.shot = answer(W, "capture", { filePath: s + "/shot.png" });
  C.noPath = answer(W, "capture", {}) === undefined;
  C.pdfAtOnce = call(W, "printToPDF", { filePath: "file://" + s + "/page.pdf" }, "pdf").answer === undefined;
  call(W, "printToPDF", { filePath: s + "/page2.pdf" }, "pdf2");
  C.relative = answer(W, "printToPDF", { filePath: "page3.pdf" });
  await E2E.until(function () { return answers.pdf && answers.pdf2; }, 60000);
  C.pdf = [answers.pdf, answers.pdf2];
  C.pdfThere = P.pathIsExist(s + "/page.pdf");
  await E2E.step("print");
  C.print = answer(W, "print", { silent: true });
  return R;
});
