// The Window object: geometry, menus, file operations and dialogs. Where a
// person acts (the dialogs) or the test reads the real X window, the page
// names a step for the driver. Every answer the page can know is compared
// here: the test wants no mismatch.
(function () {
  var T = corvane.test, W = corvane.window, P = corvane.path;
  var R = { mismatches: E2E.mismatches };
  var answers = {}, seq = 0;
  var step = E2E.step;

  var expect = E2E.expect;
  // The fields named in `keys` (space-separated) of `o`.
  function fields(o, keys) {
    var out = {};
    keys.split(" ").forEach(function (k) { out[k] = (o || {})[k]; });
    return out;
  }

  // A callback-taking method: what the callback got during the call, and
  // what the call answered itself.
  function call(method, params) {
    var name = "cb" + ++seq;
    window[name] = function (r) { answers[name] = r; };
    params.callback = name;
    var direct = W[method](JSON.stringify(params));
    return { answer: answers[name], direct: direct };
  }
  function answer(method, params) { return call(method, params).answer; }
  function frame() {
    var o = JSON.parse(W.getOrigin()), s = JSON.parse(W.getSize());
    return { x: o.x, y: o.y, width: s.width, height: s.height };
  }
  function box(x, y, width, height) { return { x: x, y: y, width: width, height: height }; }
  function move(x, y) { W.move(JSON.stringify({ x: x, y: y })); return frame(); }
  function resize(width, height) { W.resize(JSON.stringify({ width: width, height: height })); return frame(); }

  // The frames at the steps are also compared with the real X window.
  async function geometry() {
    var G = R.geometry = {}, screen = box(0, 0, 1280, 800);
    G.initial = frame();
    await step("geom-initial", G.initial);
    G.moved = move(100, 150);
    expect("moved", G.moved, box(100, 150, G.initial.width, G.initial.height));
    await step("geom-move", G.moved);
    G.resized = resize(640, 480);
    expect("resize keeps the lower-left corner", G.resized, box(100, 150, 640, 480));
    await step("geom-resize", G.resized);
    // A missing height reads as 0; the window cannot be smaller than GTK allows.
    var zero = resize(700);
    expect("zeroHeight", [zero.width, zero.height < 480], [700, true]);
    resize(640, 480);

    expect("limits before", [JSON.parse(W.getMinSize()), JSON.parse(W.getMaxSize()).width > 1e38],
           [{ width: 0, height: 0 }, true]);
    W.setMinsize(JSON.stringify({ width: 300, height: 200 }));
    W.setMaxsize(JSON.stringify({ width: 1200, height: 780 }));
    var before = frame();
    // Cut to the limits, the lower-left corner where it was.
    expect("below the minimum", resize(100, 100), box(before.x, before.y, 300, 200));
    W.setMaxsize(JSON.stringify({ width: 900, height: 700 }));
    move(100, 0);  // at the screen's lower edge
    expect("above the maximum", resize(1000, 750), box(100, 0, 900, 700));
    W.setMaxsize(JSON.stringify({ width: 5000, height: 5000 }));
    resize(640, 480);

    var wasMaximized = W.isMaximized();
    W.maximize();
    // openbox without panels: the work area is the whole screen.
    expect("maximize", [wasMaximized, W.isMaximized(), frame()], [false, true, screen]);
    await step("geom-max", frame());
    // Moved by one point, the window is no longer maximized. A busy window
    // manager may still be placing it.
    move(1, 0);
    var stillMaximized = W.isMaximized();
    await E2E.until(function () { return frame().x === 1; }, 10000);
    var movedX = frame().x;
    W.maximize();
    expect("moved one point", [stillMaximized, movedX, W.isMaximized()], [false, 1, true]);

    move(60, 90);
    resize(800, 560);
    W.minimize();
    await step("geom-minimized", {});
    W.restore();
    await step("geom-restored", {});
    W.toggleFullscreen();
    await step("geom-fullscreen", {});
    W.toggleFullscreen();
    await step("geom-windowed", {});
    expect("color and font panels answer nothing",
           [W.openColorSelectDialog_("{}") == null, W.openFontSelectDialog_("{}") == null], [true, true]);
  }

  function menus() {
    function set(params) { return answer("setMenuProperty", params); }
    function item(tag) { return fields(T.menuItemState(tag), "label menuTag index visible separator"); }
    // After Undo, Redo, a separator and four items of the Edit menu (200).
    var hooked = { label: "Hooked Item", menuTag: 200, index: 7, visible: true, separator: false };
    expect("created", [set({ menuTag: 250, title: "Hooked Item", action: "hitFirst" })], [{}]);
    expect("afterCreate", item(250), hooked);
    set({ menuTag: 250, action: "hitSecond" });  // finds the item it made by its tag
    expect("afterSecond", item(250), hooked);
    set({ menuTag: 250, title: "##**" });
    expect("afterKeep", item(250), hooked);
    expect("index", W.customMenuActionIndex(), 2);
    // Paste already has an action: title and visibility change, the action stays.
    set({ menuTag: 205, title: "Paste Here", hideMenu: true, action: "hitFirst", replaceOldAction: false });
    expect("paste", fields(T.menuItemState(205), "label visible"), { label: "Paste Here", visible: false });
    expect("indexAfterPaste", W.customMenuActionIndex(), 2);
    set({ menuTag: 205, hideMenu: false, title: "Paste" });
    expect("pasteShown", T.menuItemState(205).visible, true);
    // A separator created before the item with the next higher tag.
    set({ menuTag: 203, isSeparatorItem: true });
    expect("cutStillFound", T.menuItemState(203).separator, false);
    set({ menuTag: 105, isSeparatorItem: true });
    expect("fileSeparator", fields(T.menuItemState(105), "separator menuTag index"),
           { separator: true, menuTag: 100, index: T.menuItemState(104).index + 1 });
    set({ menuTag: 9999, title: "Top" });
    expect("top", fields(T.menuItemState(9999), "label menuTag"), { label: "Top", menuTag: -1 });  // the bar itself
  }

  function files() {
    var s = T.environment("CORVANE_E2E_SCRATCH");
    var ok = { success: true }, failed = { success: false };
    function failedWith(why) { return { success: false, error: why }; }
    function both(method, params) { var c = call(method, params); return [c.answer, c.direct]; }
    var rows = [
      ["copyFile", answer("copyFile", { src: s + "/a.txt", dest: s + "/a-copy.txt" }), ok],
      ["copyFileOntoExisting", answer("copyFile", { src: s + "/a.txt", dest: s + "/a-copy.txt" }), failed],
      ["copyFileOfFolder", answer("copyFile", { src: s + "/tree", dest: s + "/x" }),
       failedWith("call method error: " + s + "/tree is dirctory")],
      ["copyDirOfFile", answer("copyDir", { src: s + "/a.txt", dest: s + "/x" }),
       failedWith("call method error: " + s + "/a.txt is file")],
      ["copyMissing", answer("copyFile", { src: s + "/none.txt", dest: s + "/x" }),
       failedWith(s + "/none.txt is not exists.")],
      ["copyNoDest", answer("copyFile", { src: s + "/a.txt" }), failedWith("\"dest\" must name the destination path")],
      ["copyNoSrc calls nothing back", answer("copyFile", { dest: s + "/x" }), undefined],
      ["copyViaPlaceholder", answer("copyFile", { src: "file://${HOME}/home.txt", dest: s + "/home-copy.txt" }), ok],
      ["copyDir", answer("copyDir", { src: s + "/tree", dest: s + "/tree-copy" }), ok],
      ["moveFile", answer("moveFile", { src: s + "/to-move.txt", dest: s + "/moved.txt" }), ok],
      ["moveDir", answer("moveDir", { src: s + "/dir-to-move", dest: s + "/dir-moved" }), ok],
      ["moveOntoExisting", answer("moveFile", { src: s + "/a.txt", dest: s + "/a-copy.txt" }), failed],
      ["removeFile", both("removeFile", { path: s + "/a-copy.txt" }), [ok, true]],
      ["removeFileOfFolder", both("removeFile", { path: s + "/tree-copy" }),
       [failedWith("call method error: " + s + "/tree-copy is dirctory"), false]],
      ["removeDir", both("removeDir", { path: s + "/tree-copy" }), [ok, true]],
      ["removeLinkToFolder", answer("removeDir", { path: s + "/link-to-outside" }), ok],
      ["removeNoPath", call("removeDir", {}).direct, false],
      ["createDir", both("createDir", { path: s + "/made/deep", atts: { NSFilePosixPermissions: 448 } }), [ok, true]],
      ["createDirAgain", answer("createDir", { path: s + "/made/deep" }), failed],
      ["createEmpty", both("createEmptyFile", { path: s + "/made/empty.txt" }), [ok, true]],
      ["createEmptyExisting", answer("createEmptyFile", { path: s + "/a.txt" }), ok],
      ["findNone", answer("findFile", { dir: s + "/find", fileName: "zzz" }), { success: false, files: [] }],
      ["findNoName", answer("findFile", { dir: s + "/find" }), failed],
      ["info", answer("getFileInfo", { filePath: s + "/a.txt" }), { success: true, result: { fileSize: 5 },
        isReadable: true, isWritable: true, isExecutable: false, isDeletable: true }],
      ["infoMissing", answer("getFileInfo", { filePath: s + "/none" }), failedWith("file is not exists.")],
      // Missing paths newest first; one found is a success.
      ["revealBothMissing", answer("revealInFinder", { filePath: [s + "/m1", s + "/m2"] }),
       failedWith(s + "/m2 is not exists.;" + s + "/m1 is not exists.")],
      ["revealOneMissing", answer("revealInFinder", { filePath: [s + "/a.txt", s + "/m3"] }),
       { success: true, error: s + "/m3 is not exists." }],
      ["revealSingle", answer("revealInFinder", { filePath: s + "/tree" }), ok],
      ["preview", answer("previewFile", { filePath: s + "/a.txt" }), ok],
      ["previewMissing", answer("preveiwFile", { filePath: s + "/none.txt" }),
       failedWith(s + "/none.txt is not exists.")]
    ];
    rows.forEach(function (row) { expect(row[0], row[1], row[2]); });
    // "log" is found in a folder name (catalog) and a file name (blog.md).
    var find = call("findFile", { dir: s + "/find", fileName: "log" });
    expect("find", [find.answer.success, find.answer.files.slice().sort()],
           [true, ["a/catalog", "a/catalog/x.txt", "blog.md"]]);
    expect("findDirect", JSON.parse(find.direct), find.answer);
    expect("fonts", JSON.parse(W.availableFontsStrList()).length > 0, true);
  }

  // The records themselves are the file-record unit test's; here, what the
  // dialogs chose.
  async function dialogs() {
    var d = T.environment("CORVANE_E2E_DIALOGS");
    W.clearAllRecentDocuments();
    await step("open-one", {});
    expect("openOne", fields(answer("openFile", { title: "E2E Open One", directory: "file://" + d, compatible: true }),
                             "filePath parentDir"), { filePath: d + "/a.png", parentDir: d });
    await step("open-many", {});
    var many = answer("openFile", { title: "E2E Open Many", directory: d, allowMulSelection: true,
      types: ["png", "jpg"], calculateDirSize: true }) || {};
    expect("openMany", [many.filesCount, fields((many.filesArray || [])[0], "filePath")],
           [1, { filePath: d + "/b.jpg" }]);
    await step("open-folder", {});
    expect("openFolder", fields(answer("openFile", { title: "E2E Open Folder", canChooseFiles: false,
      canChooseDir: true, directory: d, calculateDirSize: true, compatible: true }), "filePath fileSize"),
           { filePath: d + "/sub", fileSize: 2500 });
    await step("open-cancel", {});
    expect("openCancel", answer("openFile", { title: "E2E Open Cancel", directory: d }), { success: false });
    await step("open-warned", {});
    expect("openWarned", answer("openFile", { title: "E2E Open Warned", types: ["png"], enableFileFormatCombox: true,
      typesDescript: [{ name: "Images", extensions: ["png", "jpg"] }] }), { success: false });
    expect("typesAfterWarning", W.curSaveOpenTypes(), ["png", "jpg"]);
    await step("save-one", {});
    // The typed "drawing" gets the first format's extension.
    expect("saveOne", answer("saveFile", { title: "E2E Save One", types: ["png", "gif"], fileName: "pic",
      directory: d }),
           { success: true, filePath: d + "/drawing.png", fileUrl: "file://" + d + "/drawing.png",
             fileName: "drawing.png", fileNameWithoutExtension: "drawing", extension: "png" });
    await step("save-replace", {});
    // The old file is gone by the time the page hears of the replacement.
    window.cbReplace = function (r) { answers.replace = [r.filePath, P.pathIsExist(d + "/old.gif")]; };
    W.saveFile(JSON.stringify({ title: "E2E Save Replace", types: ["gif"], fileName: "old", directory: d,
      callback: "cbReplace" }));
    expect("saveReplace", answers.replace, [d + "/old.gif", false]);
    // The person picks the second format-box entry, gif, and types a name
    // without an extension.
    await step("save-format", {});
    expect("saveFormat", fields(answer("saveFile", { title: "E2E Save Format", types: ["png", "gif", "jpg"],
      fileName: "pic", directory: d }), "filePath"), { filePath: d + "/picture.gif" });
    W.addRecentDocument(JSON.stringify({ url: d + "/notes.txt" }));
    W.addRecentDocument(JSON.stringify({ url: d + "/missing.txt" }));
    expect("maxRecent", W.maxRecentDocumentCount() > 0, true);
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
