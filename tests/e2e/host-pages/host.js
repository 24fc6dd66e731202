// The page-host pages, one per HOST_MODE. Console lines beginning with
// "host: " tell the test when to act as the person would.
(function () {
  var T = corvane.test;
  var A = corvane.app;
  var mode = T.environment("HOST_MODE");
  var state = T.getValue() || {};

  function say(text) { console.log("host: " + text); }
  function keep() { T.setValue(state); }
  // Counts this load in the state the test object keeps across loads.
  function loaded() { state.loads = (state.loads || 0) + 1; keep(); }
  var finish = E2E.finish;
  function untilFile(path) { return E2E.until(function () { return T.pathExists(path); }, 600000); }
  function onKey(target, handle) {
    target.addEventListener("keydown", function (e) {
      if (e.key !== "Control" && e.key !== "Shift") handle(e);
    });
  }
  function keyName(e) {
    return (e.ctrlKey ? "ctrl+" : "") + (e.shiftKey ? "shift+" : "") + e.key.toLowerCase();
  }

  // ---- keys: the page first, the menu only for keys the page leaves alone
  function keys() {
    if (!state.phase) Object.assign(state, { phase: "prevent", prevented: [], let: [] });
    loaded();
    if (state.phase === "prevent") {
      onKey(document, function (e) {
        if (state.phase !== "prevent") { state.let.push(keyName(e)); keep(); return; }
        e.preventDefault();
        if (e.key === "F2") {
          state.phase = "let";
          state.visibleAfterPrevented = document.visibilityState;
          keep();
          say("prevented done");
          return;
        }
        state.prevented.push(keyName(e));
        keep();
      });
      say("keys ready");
    } else if (state.phase === "let") {
      // Reached again through the menu's Reload: the page let Ctrl+R pass.
      state.phase = "text";
      state.textKeys = [];
      keep();
      var field = document.getElementById("field");
      onKey(field, function (e) {
        state.textKeys.push(keyName(e));
        keep();
        if (e.key === "Enter") finish(Object.assign(state, { value: field.value }));
      });
      field.focus();
      say("text ready");
    }
  }

  // ---- hooks: a page function on a built-in item is that item's action
  function hooks() {
    state.hits = state.hits || [];
    loaded();
    if (state.loads > 1) { say("loaded again"); return; }
    function hit(name) {
      return function (title) { state.hits.push(name + ":" + title); keep(); say("hit " + name); };
    }
    corvane.menu.getItem(0).submenu().getItem("Quit").setCallback(hit("quit"));
    corvane.menu.getItem("File").submenu().getItem("Close Window").setCallback(hit("close"));
    window.reloadFirst = function () { state.hits.push("reload:first"); keep(); };
    window.reloadSecond = function () { state.hits.push("reload:second"); keep(); say("hit reload"); };
    corvane.window.setMenuProperty(JSON.stringify({ menuTag: 301, action: "reloadFirst" }));
    corvane.window.setMenuProperty(JSON.stringify({ menuTag: 301, action: "reloadSecond" }));
    state.developerTools = T.menuItemState(303);
    keep();
    document.addEventListener("keydown", function (e) {
      if (e.key === "F2") finish(Object.assign(state, { visibility: document.visibilityState }));
    });
    say("hooks ready");
  }

  // ---- unsaved: the page's beforeunload keeps its work on close and quit
  function unsaved() {
    state.asked = state.asked || 0;
    loaded();
    var field = document.getElementById("field");
    window.addEventListener("beforeunload", function (e) {
      state.asked++;
      keep();
      say("beforeunload " + state.asked + " " + field.value);
      if (field.value) { e.preventDefault(); e.returnValue = ""; }
    });
    field.focus();
    say("unsaved ready " + state.loads);
  }

  // ---- plain: no hooks, no beforeunload
  function plain() {
    var tools = T.menuItemState(303);
    document.getElementById("field").focus();
    say("plain ready developer tools " + tools.visible);
  }

  // ---- activation: application switches only
  function activation() {
    var events = [];
    var phase = "start";
    document.addEventListener("appActivated", function (e) {
      events.push({ phase: phase, localizedName: e.data.localizedName, bundleURL: e.data.bundleURL });
      say("event " + e.data.localizedName);
    });
    var chooser = document.getElementById("chooser");
    function dialogs() {
      phase = "alert";
      alert("one");
      phase = "confirm";
      var answer = confirm("two");
      phase = "before chooser";
      chooser.focus();
      say("dialogs answered " + answer);
    }
    document.addEventListener("keydown", function (e) {
      if (e.key === "F3") { setTimeout(dialogs, 0); return; }
      if (e.key === "F4") { phase = "chooser"; say("choosing"); return; }
      if (e.key === "F5") { phase = "others"; say("dialogs done " + events.length); return; }
      if (e.key === "F6") finish({ events: events });
    });
    say("activation ready");
  }

  // ---- storage: what this application finds, then what it leaves
  function result(r) {  // an IndexedDB request as a promise
    return new Promise(function (resolve, reject) {
      r.onsuccess = function () { resolve(r.result); };
      r.onerror = function () { reject(r.error); };
    });
  }
  function localKeys() {
    var out = {};
    for (var i = 0; i < localStorage.length; ++i) out[localStorage.key(i)] = localStorage.getItem(localStorage.key(i));
    return out;
  }

  async function storage() {
    var me = A.getAppIdentifier();
    var report = { me: me, before: { local: localKeys() } };
    try {
      var open = indexedDB.open("host", 1);
      open.onupgradeneeded = function () { open.result.createObjectStore("items", { autoIncrement: true }); };
      var db = await result(open);
      var items = function () { return result(db.transaction("items").objectStore("items").getAll()); };
      report.before.items = await items();
      localStorage.setItem("owner", me);
      var t = db.transaction("items", "readwrite");
      t.objectStore("items").add({ owner: me });
      await new Promise(function (resolve, reject) {
        t.oncomplete = resolve;
        t.onerror = t.onabort = function () { reject(t.error); };
      });
      report.after = { local: localKeys(), items: await items() };
      finish(report);
    } catch (e) {
      finish({ me: me, pageError: String(e) });
    }
  }

  // ---- the user agent, per web view and at once
  function agent() {
    var report = { standard: navigator.userAgent };
    var child = null;
    window.addEventListener("message", function (e) {
      if (!e.data || !e.data.childAgent) return;
      if (e.data.first) {
        report.childBefore = e.data.childAgent;
        A.setCustomUserAgent("Main/1");
        report.atOnce = navigator.userAgent;
        report.appVersionAtOnce = navigator.appVersion;
        waitForWebKit();
      } else {
        report.childAfter = e.data.childAgent;
        finish(report);
      }
    });
    // WebKit's own value shows in a new frame once it reached the page; by
    // then a change of the shared settings would have reached the child too.
    function waitForWebKit() {
      var frame = document.createElement("iframe");
      frame.src = "about:blank";
      document.body.appendChild(frame);
      var seen = frame.contentWindow.navigator.userAgent;
      document.body.removeChild(frame);
      if (seen !== "Main/1") { setTimeout(waitForWebKit, 50); return; }
      report.inNewFrame = seen;
      child.postMessage("agent?", "*");
    }
    child = window.open("child.html", "child", "width=400,height=300");
  }

  // ---- foreign: a frame from another server tries every door to new
  // windows and desktop handlers, then the application's own document uses
  // them as it may
  function foreign() {
    var report = {};
    var frame = document.createElement("iframe");
    frame.style.cssText = "position:fixed;left:0;top:0;width:100%;height:100%;border:0";
    frame.src = "http://127.0.0.1:" + T.environment("HOST_FOREIGN_PORT") + "/evil.html";
    window.addEventListener("message", function (e) {
      if (e.data && e.data.foreignOpened !== undefined) {
        report.foreignOpened = e.data.foreignOpened;
        // WebKit's requests reach the UI process a moment after the calls.
        setTimeout(function () {
          report.windowsAfterForeign = T.visibleWindowCount();
          say("foreign ready");
        }, 1500);
      } else if (e.data === "foreign clicked") {
        setTimeout(ownTurn, 1500);
      }
    });
    document.body.appendChild(frame);

    function ownTurn() {
      var link = document.createElement("a");
      link.href = "corvanetest://app/link";
      link.target = "_blank";
      document.body.appendChild(link);
      link.click();
      report.childOpened = window.open("child.html", "child", "width=400,height=300") !== null;
      E2E.until(function () { return T.visibleWindowCount() >= 2; }, 20000).then(function () {
        report.windowsAfterOwn = T.visibleWindowCount();
        setTimeout(function () { finish(report); }, 1000);  // the handler it started records
      });
    }
  }

  // ---- the web process dies while a call waits (a save dialog, the
  // "Can't save file" alert, a long copy): the page comes back with its
  // bridge, and the old call's answer reaches nobody.
  function crashWait() {
    var kind = T.environment("CRASH_WAIT"), dir = T.environment("CRASH_DIR");
    state.lateAnswers = state.lateAnswers || [];
    loaded();
    // The old page names this function as its callback; the new page has
    // one of the same name that would catch a misdelivered answer.
    window.hostLate = function (r) { state.lateAnswers.push(r); keep(); };
    if (state.loads === 1) {
      say("waiting " + kind);
      var call = {
        dialog: [corvane.window, "saveFile", { title: "Crash Save", directory: dir, fileName: "keep.txt" }],
        alert: [corvane.binaryFileWriter, "writeTextToFile",
          { filePath: dir + "/keep.txt/inside.txt", text: "never written" }],
        copy: [corvane.window, "copyDir", { src: dir + "/tree", dest: dir + "/tree-copy" }]
      }[kind];
      call[0][call[1]](JSON.stringify(Object.assign({ callback: "hostLate" }, call[2])));
      say("old call returned");  // never: the page is gone by then
      return;
    }
    state.ext = corvane.path.getFileExt("a.tar.gz");
    keep();
    say("reloaded");
    // The test says when the old call has ended.
    untilFile(dir + "/ack").then(function () {
      state.after = corvane.path.getFileExt("b.zip");
      finish(state);
    });
  }

  // ---- the web process dies at every load: the page is reloaded with
  // growing pauses, then a message waits for the person.
  function crashLoop() {
    loaded();
    say("load " + state.loads + " " + corvane.path.getFileExt("c.gz"));
    untilFile(T.environment("CRASH_DIR") + "/done").then(function () { finish(state); });
  }

  var modes = { "crash-wait": crashWait, "crash-loop": crashLoop, keys: keys, foreign: foreign,
    activation: activation, storage: storage, agent: agent, hooks: hooks, unsaved: unsaved, plain: plain };
  window.addEventListener("load", function () {
    try {
      if (!modes[mode]) throw new Error("unknown mode " + mode);
      modes[mode]();
    } catch (e) {
      finish({ pageError: String(e) + " @ " + (e.line || "") });
    }
  });
})();
