// Drops, change watchers, capture and print, the info store and the file
// writer, through the bridge. A person's drops, alerts and print dialog,
// and the file changes, are the driver's steps. Every answer the page can
// know is compared here: the test wants no mismatch.
E2E.run(async function () {
  var T = corvane.test, W = corvane.window, B = corvane.binaryFileWriter, P = corvane.path;
  var s = T.environment("CORVANE_E2E_SCRATCH");
  var R = { mismatches: E2E.mismatches }, answers = {}, seq = 0;

  var expect = E2E.expect;
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

  // The store's and the writer's own answers are their unit tests'; here,
  // what the bridge adds: callbacks and direct answers, exceptions, alerts.
  var info = { name: "x", list: [1, "a", { b: 2.5 }] };
  var nothing = { success: false, error: "bytesWritten = 0; may be set to -1 on error [fileStream streamError]" };
  answer(W, "saveAppInfoToLocal", { filePath: s + "/info.plist", appInfo: info });
  expect("read", answer(W, "getAppInfoFromLocal", { filePath: s + "/info.plist" }), { success: true, result: info });
  answer(W, "setInfoToUserDefaults", { key: "e2e.flag", value: false });
  answer(W, "setInfoToUserDefaults", { key: "e2e.empty", value: "" });
  expect("remove", answer(W, "removeItemFromUserDefaults", { key: "e2e.flag" }), { success: true });
  // The shell's own bundle, asked without a callback, is the test's to check.
  R.other = JSON.parse(W.getOtherAppInfo(JSON.stringify({ path: T.environment("CORVANE_E2E_BUNDLE") })));
  expect("otherPlain", answer(W, "getOtherAppInfo", { path: s }), { success: false, error: "info is null" });
  expect("otherNone", JSON.parse(W.getOtherAppInfo(JSON.stringify({ path: s + "/nothing" }))), { success: false });

  function write(params) { return answer(B, "writeBinaryArray", params); }
  expect("bytes", write({ filePath: s + "/out/deep/bytes.bin", data: [0, 255, 256, -1] }),
         { success: true, filePath: s + "/out/deep/bytes.bin", bytesWritten: 4 });
  write({ filePath: s + "/chunks.bin", data: [1, 2, 3], offset: 0 });
  expect("chunk2", write({ filePath: s + "/chunks.bin", data: [4, 5], offset: 3, dataAppend: true }).bytesWritten, 2);
  write({ filePath: s + "/gap.bin", data: [1] });
  write({ filePath: s + "/gap.bin", data: [9], offset: 3 });
  expect("empty", write({ filePath: s + "/empty.bin", data: [] }), nothing);
  write({ filePath: s + "/replace.bin", data: [7], offset: 100, dataAppend: false });
  var code = "SGVs\nbG8s\r\nIHdv cmxk\nIQ==";
  expect("base64", answer(B, "base64ToFile", { filePath: s + "/b64.txt", base64String: code }).base64Code, code);
  answer(B, "writeTextToFile", { filePath: s + "/t.txt", text: "héllo" });
  answer(B, "writeTextToFile", { filePath: s + "/t.txt", text: " more", offset: 6 });
  expect("noText", answer(B, "writeTextToFile", { filePath: s + "/t2.txt" }), nothing);
  expect("badData", write({ filePath: s + "/bad.bin", data: "not an array" }), nothing);
  expect("badParams call nothing back", write({ filePath: 42, data: [1] }), undefined);
  expect("truncated", B.truncateFile_atPosition_(s + "/chunks.bin", 4), 4);
  // A method that fails with a system error throws its cause in words.
  try { B.truncateFile_atPosition_(s + "/a-folder", 0); R.truncatedFolder = "no exception"; }
  catch (e) { R.truncatedFolder = String(e.message || e); }
  expect("truncatedFolder", R.truncatedFolder, "cannot open " + s + "/a-folder: it is a folder");
  window.cb_inner = function (r) { answers.inner = r; };
  B.writeBinaryToFile_withArrayData_append_withCallback_(null, [1], true, "cb_inner");
  expect("innerNullPath", answers.inner, { success: false, error: "invalid filePath" });
  // The unwritable path, and a folder where the file should be (the
  // append's cut and the replacement): each answered after its alert.
  await E2E.step("writer-alert");
  expect("alerts", [write({ filePath: s + "/blocker/x.bin", data: [1] }),
                    write({ filePath: s + "/a-folder", data: [1], offset: 0 }),
                    answer(B, "writeTextToFile", { filePath: s + "/a-folder", text: "x", dataAppend: false })],
         [{ success: false }, { success: false }, { success: false }]);

  var c = document.createElement("canvas");
  c.width = 40; c.height = 30;
  c.getContext("2d").fillRect(10, 5, 20, 20);
  // Line breaks every 60 characters, as mail and PEM texts have them.
  var png = c.toDataURL("image/png").split(",")[1].replace(/(.{60})/g, "$1\r\n");
  expect("image", answer(B, "base64ToImageFile", { filePath: s + "/img/pic-gif", base64String: png, imageType: "gif" }),
         { success: true, filePath: s + "/img/pic-gif" });
  expect("convert", answer(B, "imageFileConvertToOthers", { orgFilePath: s + "/img/pic-gif",
    filePath: s + "/img/conv.tif", imageType: "tif" }).success, true);
  expect("convertMissing", answer(B, "imageFileConvertToOthers", { orgFilePath: s + "/none.png",
    filePath: s + "/img/x.png", imageType: "png" }), { success: false, filePath: s + "/img/x.png" });

  window.cb_never = function (r) { answers.never = r; };
  expect("sync", B.getTextFromFile(JSON.stringify({ filePath: s + "/enc/utf8.txt", encode: "utf8", async: false,
    callback: "cb_never" })), "Grüße, мир");
  expect("sync calls nothing back", answers.never, undefined);
  expect("byNumber", B.getTextFromFile(JSON.stringify({ filePath: s + "/enc/isolatin1.txt", NSStringEncoding: 5,
    async: false })), "Grüße");
  var a = call(B, "getTextFromFile", { filePath: s + "/enc/utf16le.txt", encode: "  UTF16LittleEndian \n" }, "async");
  expect("asyncDirect", a.direct, "");
  call(B, "getTextFromFile", { filePath: s + "/none.txt" }, "asyncMissing");
  await E2E.until(function () { return answers.async && answers.asyncMissing; }, 20000);
  expect("async", answers.async, { success: true, error: "", content: "l✓" });
  var missing = answers.asyncMissing || {};
  expect("asyncMissing", [missing.success, missing.content, /No such file/.test(missing.error)], [false, "", true]);

  var events = [];
  window.onWatch = function (r) { events.push(["file", r.path, r.flag]); };
  window.onWatchDir = function (r) { events.push(["dir", r.path, r.flag]); };
  window.onWatchDelete = function (r) { events.push(["deleteOnly", r.path, r.flag]); };
  var wf = s + "/watched.txt", wd = s + "/watched-dir";
  function watch(method, path, callback, flags) {
    return W[method](JSON.stringify({ path: path, callback: callback, flags: flags }));
  }
  // On a folder as a file, a file as a folder, a missing path, no path;
  // then the three good ones.
  expect("watchers made", [watch("createFileChangeWatcher", wd, "onWatch"),
    watch("createDirChangeWatcher", wf, "onWatch"), watch("createFileChangeWatcher", s + "/nope", "onWatch"),
    W.createFileChangeWatcher(JSON.stringify({ callback: "onWatch" })), watch("createFileChangeWatcher", wf, "onWatch"),
    watch("createDirChangeWatcher", wd, "onWatchDir"), watch("createFileChangeWatcher", wf, "onWatchDelete", 1)],
         [false, false, false, false, true, true, true]);
  await E2E.step("watch-changes");
  function heard(kind, path, flag) {
    return events.some(function (e) { return e[0] === kind && e[1] === path && e[2] === flag; });
  }
  var wanted = [["file", wf, "FileWritten"], ["file", wf, "FileSizeIncreased"], ["file", wf, "FileDeleted"],
                ["dir", wd, "FileWritten"], ["deleteOnly", wf, "FileDeleted"]];
  await E2E.until(function () { return wanted.every(function (w) { return heard(w[0], w[1], w[2]); }); }, 20000);
  // The watcher of deletions alone hears nothing else.
  var unheard = wanted.filter(function (w) { return !heard(w[0], w[1], w[2]); });
  var stray = events.filter(function (e) { return e[0] === "deleteOnly" && e[2] !== "FileDeleted"; });
  expect("events", [unheard, stray], [[], []]);
  // Both watchers of the file go with one removal; afterwards nothing calls.
  answer(B, "writeTextToFile", { filePath: wf, text: "back" });
  expect("watchers removed: a missing path, the file, the folder, the folder again",
         [s + "/nope", wf, wd, wd].map(function (p) { return W.removeFromChangeWatcher(JSON.stringify({ path: p })); }),
         [false, true, true, false]);
  // Events of the write above that the shell sent before the removal may
  // still be on their way to this page: let them land before counting.
  await E2E.sleep(500);
  var before = events.length;
  answer(B, "writeTextToFile", { filePath: wf, text: " and more", offset: 4 });
  answer(B, "writeTextToFile", { filePath: wd + "/late.txt", text: "late" });
  await E2E.sleep(1500);
  expect("events after removal", events.slice(before), []);

  var d = s + "/drop", dropped = [], handed = [];
  // A page with neither hook (no `app` at all), then one with the page
  // host's hook alone: each drop must pass without an error.
  expect("noApp", typeof window.app, "undefined");
  await E2E.step("drop-bare");
  await E2E.step("drop-bare-done");
  ZVRLabJs.handleDropFiles = function (paths) { handed.push(paths); };
  expect("hookSameUnderEveryName", quorlix.handleDropFiles === ZVRLabJs.handleDropFiles, true);
  await E2E.step("drop-host");
  await E2E.until(function () { return handed.length > 0; }, 30000);
  // Alone, without `app`: every path, the missing one too.
  expect("hostOnly", handed, [[d + "/a.txt", d + "/missing.txt"]]);
  window.app = { dragDropJSCallback: function (r) { dropped.push(r); } };
  await E2E.step("drop-accept");
  await E2E.until(function () { return dropped.length > 0; }, 30000);
  // The missing file is left out; folder sizes only when asked. The
  // records' fields are the file-record unit test's.
  var accepted = dropped.shift() || { filesArray: [] };
  expect("accepted", [accepted.success, accepted.filesCount, accepted.filesArray.map(function (f) {
    return [f.fileName, f.isDir === true, f.fileSize];
  }), (accepted.filesArray[0] || {}).filePath], [true, 3, [["a.txt", false, 3], ["b.PNG", false, 10],
    ["folder", true, 0]], d + "/a.txt"]);
  window.onDrop2 = function (r) { dropped.push(r); };
  W.setDragDropAllowFileTypes(JSON.stringify({ fileTypes: ["png"] }));
  W.setDragDropCallback(JSON.stringify({ callback: "onDrop2" }));
  // "png" does not take "PNG" or a folder: the alert, and no call.
  await E2E.step("drop-reject");
  await E2E.step("drop-reject-done");
  expect("callsAfterReject", dropped.length, 0);
  W.setDragDropConfig(JSON.stringify({ enableFile: false, enableDir: false, fileTypes: ["*"] }));
  await E2E.step("drop-none");
  await E2E.step("drop-none-done");
  expect("callsAfterNone", dropped.length, 0);
  W.setDragDropConfig(JSON.stringify({ enableFile: true, enableDir: true, enableCalculateFolderSize: true }));
  W.setDragDropAllowFileTypes(JSON.stringify({ fileTypes: 3 }));  // not an array: logged, kept
  expect("typesKept", W.dragDropAllowFileTypes(), ["*"]);
  await E2E.step("open-files");
  await E2E.until(function () { return dropped.length > 0; }, 30000);
  // Files a second start hands over, the folder's size now asked for.
  var opened = dropped.shift() || { filesArray: [] };
  expect("opened", [opened.filesCount, opened.filesArray.map(function (f) { return [f.filePath, f.fileSize]; })],
         [2, [[d + "/a.txt", 3], [d + "/folder", 1500]]]);
  await E2E.until(function () { return handed.length >= 5; }, 30000);
  // Beside the records, the host's hook sees the drops the settings turn
  // away too, and the files of a second start.
  expect("handed", handed, [[d + "/a.txt", d + "/missing.txt"],
                            [d + "/a.txt", d + "/b.PNG", d + "/folder", d + "/missing.txt"],
                            [d + "/folder", d + "/b.PNG"], [d + "/a.txt"], [d + "/a.txt", d + "/folder"]]);

  expect("shot", answer(W, "capture", { filePath: s + "/shot.png" }), { success: true });
  expect("capture without a path calls nothing back", answer(W, "capture", {}), undefined);
  // The PDF's answer comes once the file is complete, never during the call.
  expect("pdfAtOnce", call(W, "printToPDF", { filePath: "file://" + s + "/page.pdf" }, "pdf").answer, undefined);
  call(W, "printToPDF", { filePath: s + "/page2.pdf" }, "pdf2");
  expect("relative", answer(W, "printToPDF", { filePath: "page3.pdf" }).success, false);
  await E2E.until(function () { return answers.pdf && answers.pdf2; }, 60000);
  expect("pdf", [answers.pdf, answers.pdf2, P.pathIsExist(s + "/page.pdf")],
         [{ success: true }, { success: true }, true]);
  await E2E.step("print");
  expect("print", answer(W, "print", { silent: true }), { success: true });
  return R;
});
