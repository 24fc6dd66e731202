// The Window object: geometry, menus, file operations and dialogs. Where a
// person acts (a menu choice, the dialogs) or the test reads the real X
// window, the page names a step for the driver.
(function () {
  var T = corvane.test, W = corvane.window, P = corvane.path;
  var R = {};
  var answers = {};
  var step = E2E.step;

  // A callback-taking method: what the callback got during the call, and
  // what the call answered itself.
  function call(method, name, params) {
    window["cb_" + name] = function (r) { answers[name] = r; };
    params.callback = "cb_" + name;
    var direct = W[method](JSON.stringify(params));
    return { answer: answers[name], direct: direct };
  }
  function frame() {
    var o = JSON.parse(W.getOrigin()), s = JSON.parse(W.getSize());
    return { x: o.x, y: o.y, width: s.width, height: s.height };
  }
  // The frame once `settled` holds for it, or the last one read after ten
  // seconds: a busy window manager may still be placing the window.
  async function frameWhen(settled) {
    await E2E.until(function () { return settled(frame()); }, 10000);
    return frame();
  }

  async function geometry() {
    var G = R.geometry = {};
    G.initial = frame();
    await step("geom-initial", G.initial);
    W.move(JSON.stringify({ x: 100, y: 150 }));
    G.moved = frame();
    await step("geom-move", G.moved);
    W.resize(JSON.stringify({ width: 640, height: 480 }));
    G.resized = frame();
    await step("geom-resize", G.resized);
    W.resize(JSON.stringify({ width: 700 }));  // a missing number reads as 0
    G.zeroHeight = frame();
    W.resize(JSON.stringify({ width: 640, height: 480 }));

    G.minBefore = JSON.parse(W.getMinSize());
    G.maxBefore = JSON.parse(W.getMaxSize());
    W.setMinsize(JSON.stringify({ width: 300, height: 200 }));
    W.setMaxsize(JSON.stringify({ width: 1200, height: 780 }));
    G.beforeClamp = frame();
    W.resize(JSON.stringify({ width: 100, height: 100 }));  // below the minimum
    G.clamped = frame();
    // Above the maximum, at the screen's lower edge.
    W.setMaxsize(JSON.stringify({ width: 900, height: 700 }));
    W.move(JSON.stringify({ x: 100, y: 0 }));
    W.resize(JSON.stringify({ width: 1000, height: 750 }));
    G.clampedMax = frame();
    W.setMaxsize(JSON.stringify({ width: 5000, height: 5000 }));
    W.resize(JSON.stringify({ width: 640, height: 480 }));

    G.maxBeforeMaximize = W.isMaximized();
    W.maximize();
    G.maximized = W.isMaximized();
    G.maximizedFrame = frame();
    await step("geom-max", G.maximizedFrame);
    W.move(JSON.stringify({ x: G.maximizedFrame.x + 1, y: G.maximizedFrame.y }));
    G.afterOnePoint = W.isMaximized();
    G.movedOnePoint = await frameWhen(function (f) { return f.x === G.maximizedFrame.x + 1; });
    W.maximize();
    G.maximizedAgain = W.isMaximized();

    W.move(JSON.stringify({ x: 60, y: 90 }));
    W.resize(JSON.stringify({ width: 800, height: 560 }));
    W.minimize();
    await step("geom-minimized", {});
    W.restore();
    await step("geom-restored", {});
    W.toggleFullscreen();
    await step("geom-fullscreen", {});
    W.toggleFullscreen();
    await step("geom-windowed", {});
    R.colorAndFont = [W.openColorSelectDialog_("{}"), W.openFontSelectDialog_("{}")];
  }

  function menus() {
    var M = R.menus = {};
    M.created = call("setMenuProperty", "menu1", { menuTag: 250, title: "Hooked Item", action: "hitFirst" }).answer;
    M.afterCreate = T.menuItemState(250);
    call("setMenuProperty", "menu2", { menuTag: 250, action: "hitSecond" });
    M.afterSecond = T.menuItemState(250);
    call("setMenuProperty", "menu3", { menuTag: 250, title: "##**" });
    M.afterKeep = T.menuItemState(250);
    M.index = W.customMenuActionIndex();
    // An item of the application's own menus keeps its action.
    call("setMenuProperty", "menu4", { menuTag: 205, title: "Paste Here", hideMenu: true, action: "hitFirst",
      replaceOldAction: false });
    M.paste = T.menuItemState(205);
    M.indexAfterPaste = W.customMenuActionIndex();
    call("setMenuProperty", "menu5", { menuTag: 205, hideMenu: false, title: "Paste" });
    M.pasteShown = T.menuItemState(205);
    // A separator created before the item with the next higher tag.
    call("setMenuProperty", "menu6", { menuTag: 203, isSeparatorItem: true });
    M.cutStillFound = T.menuItemState(203);
    call("setMenuProperty", "menu7", { menuTag: 105, isSeparatorItem: true });
    M.fileSeparator = T.menuItemState(105);
    M.printAt = T.menuItemState(104);
    call("setMenuProperty", "menu8", { menuTag: 9999, title: "Top" });
    M.top = T.menuItemState(9999);
  }

  function files() {
    var F = R.files = {};
    var s = T.environment("CORVANE_E2E_SCRATCH");
    F.copyFile = call("copyFile", "cf", { src: s + "/a.txt", dest: s + "/a-copy.txt" }).answer;
    F.copyFileOntoExisting = call("copyFile", "cfe", { src: s + "/a.txt", dest: s + "/a-copy.txt" }).answer;
    F.copyFileOfFolder = call("copyFile", "cff", { src: s + "/tree", dest: s + "/x" }).answer;
    F.copyDirOfFile = call("copyDir", "cdf", { src: s + "/a.txt", dest: s + "/x" }).answer;
    F.copyMissing = call("copyFile", "cfm", { src: s + "/none.txt", dest: s + "/x" }).answer;
    F.copyNoDest = call("copyFile", "cfn", { src: s + "/a.txt" }).answer;
    F.copyNoSrc = call("copyFile", "cfs", { dest: s + "/x" }).answer;
    F.copyViaPlaceholder = call("copyFile", "cfp", { src: "file://${HOME}/home.txt", dest: s + "/home-copy.txt" }).answer;
    F.copyDir = call("copyDir", "cd", { src: s + "/tree", dest: s + "/tree-copy" }).answer;
    F.moveFile = call("moveFile", "mf", { src: s + "/to-move.txt", dest: s + "/moved.txt" }).answer;
    F.moveDir = call("moveDir", "md", { src: s + "/dir-to-move", dest: s + "/dir-moved" }).answer;
    F.moveOntoExisting = call("moveFile", "mfe", { src: s + "/a.txt", dest: s + "/a-copy.txt" }).answer;
    var rf = call("removeFile", "rf", { path: s + "/a-copy.txt" });
    F.removeFile = rf.answer; F.removeFileDirect = rf.direct;
    var rfd = call("removeFile", "rfd", { path: s + "/tree-copy" });
    F.removeFileOfFolder = rfd.answer; F.removeFileOfFolderDirect = rfd.direct;
    var rd = call("removeDir", "rd", { path: s + "/tree-copy" });
    F.removeDir = rd.answer; F.removeDirDirect = rd.direct;
    F.removeLinkToFolder = call("removeDir", "rl", { path: s + "/link-to-outside" }).answer;
    F.removeNoPath = call("removeDir", "rn", {}).direct;
    var cd = call("createDir", "mk", { path: s + "/made/deep", atts: { NSFilePosixPermissions: 448 } });
    F.createDir = cd.answer; F.createDirDirect = cd.direct;
    F.createDirAgain = call("createDir", "mk2", { path: s + "/made/deep" }).answer;
    var ce = call("createEmptyFile", "ce", { path: s + "/made/empty.txt" });
    F.createEmpty = ce.answer; F.createEmptyDirect = ce.direct;
    F.createEmptyExisting = call("createEmptyFile", "ce2", { path: s + "/a.txt" }).answer;
    var ff = call("findFile", "ff", { dir: s + "/find", fileName: "log" });
    F.find = ff.answer; F.findDirect = JSON.parse(ff.direct);
    F.findNone = call("findFile", "ffn", { dir: s + "/find", fileName: "zzz" }).answer;
    F.findNoName = call("findFile", "ffe", { dir: s + "/find" }).answer;
    F.info = call("getFileInfo", "gi", { filePath: s + "/a.txt" }).answer;
    F.infoMissing = call("getFileInfo", "gim", { filePath: s + "/none" }).answer;
    F.revealBothMissing = call("revealInFinder", "rv1", { filePath: [s + "/m1", s + "/m2"] }).answer;
    F.revealOneMissing = call("revealInFinder", "rv2", { filePath: [s + "/a.txt", s + "/m3"] }).answer;
    F.revealSingle = call("revealInFinder", "rv3", { filePath: s + "/tree" }).answer;
    F.preview = call("previewFile", "pv", { filePath: s + "/a.txt" }).answer;
    F.previewMissing = call("preveiwFile", "pvm", { filePath: s + "/none.txt" }).answer;
    F.fonts = JSON.parse(W.availableFontsStrList()).length;
  }

  async function dialogs() {
    var D = R.dialogs = {};
    var d = T.environment("CORVANE_E2E_DIALOGS");
    W.clearAllRecentDocuments();
    await step("open-one", {});
    D.openOne = call("openFile", "o1", { title: "E2E Open One", directory: "file://" + d, compatible: true }).answer;
    await step("open-many", {});
    D.openMany = call("openFile", "o2", { title: "E2E Open Many", directory: d, allowMulSelection: true,
      types: ["png", "jpg"], calculateDirSize: true }).answer;
    await step("open-folder", {});
    D.openFolder = call("openFile", "o3", { title: "E2E Open Folder", canChooseFiles: false, canChooseDir: true,
      directory: d, calculateDirSize: true, compatible: true }).answer;
    await step("open-cancel", {});
    D.openCancel = call("openFile", "o4", { title: "E2E Open Cancel", directory: d }).answer;
    await step("open-warned", {});
    D.openWarned = call("openFile", "o5", { title: "E2E Open Warned", types: ["png"], enableFileFormatCombox: true,
      typesDescript: [{ name: "Images", extensions: ["png", "jpg"] }] }).answer;
    D.typesAfterWarning = W.curSaveOpenTypes();
    await step("save-one", {});
    D.saveOne = call("saveFile", "s1", { title: "E2E Save One", types: ["png", "gif"], fileName: "pic",
      directory: d }).answer;
    await step("save-replace", {});
    window.cb_s2 = function (r) { answers.s2 = r; answers.s2Exists = P.pathIsExist(d + "/old.gif"); };
    W.saveFile(JSON.stringify({ title: "E2E Save Replace", types: ["gif"], fileName: "old", directory: d,
      callback: "cb_s2" }));
    D.saveReplace = answers.s2; D.saveReplaceFileLeft = answers.s2Exists;
    // The person picks the second format-box entry.
    await step("save-format", {});
    D.saveFormat = call("saveFile", "s3", { title: "E2E Save Format", types: ["png", "gif", "jpg"], fileName: "pic",
      directory: d }).answer;
    W.addRecentDocument(JSON.stringify({ url: d + "/notes.txt" }));
    W.addRecentDocument(JSON.stringify({ url: d + "/missing.txt" }));
    D.maxRecent = W.maxRecentDocumentCount();
  }

  E2E.run(async function () {
    if (T.environment("CORVANE_E2E_PHASE") === "second") return { second: true };
    await geometry();
    menus();
    files();
    await dialogs();
    return R;
  }, R);
})();
