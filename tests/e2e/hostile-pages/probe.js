// A document that should not hold the bridge, trying every way to it: its
// own window, parent, top and opener (each with a native call, so a reached
// bridge proves itself), and the callback names and events the application
// uses. It reports to the application's window with postMessage, which
// crosses origins. With "nest" in its name it also makes the children a
// document of its origin can make (srcdoc, blob:, about:blank), which share
// that origin, and they probe the same way (a sandboxed document cannot
// script its about:blank child: each sandboxed document is an origin of its
// own). The test writes probe.html with this script inline.
(function () {
  // The frame's name, else (a window) the name in the query. A document
  // written into about:blank takes its writer's address, query and all.
  var match = /[?&]name=([^&#]*)/.exec(location.search);
  var name = window.name || (match ? decodeURIComponent(match[1]) : "");
  var seen = { kind: "probe", name: name, origin: String(self.origin), callbacks: 0, events: 0 };
  function reach(label, get) {
    try {
      var w = get();
      if (!w) { seen[label] = "none"; return; }
      var c = w.corvane;
      seen[label] = typeof c === "object" && c ? "bridge " + c.path.homeDir() : typeof c;
    } catch (e) {
      seen[label] = "threw " + e.name;
    }
  }
  reach("own", function () { return window; });
  reach("parent", function () { return parent !== window ? parent : null; });
  reach("top", function () { return top !== window ? top : null; });
  reach("opener", function () { return window.opener; });

  // Where the report goes: the window that opened us, else the top window.
  var to = window.opener || (top !== window ? top : null);
  function report() { if (to) to.postMessage(seen, "*"); }
  window.hostileCallback = function () { seen.callbacks++; report(); };
  document.addEventListener("hostileEvent", function () { seen.events++; report(); });
  report();

  if (name.indexOf("nest") < 0) return;
  var source = "<script>" + document.currentScript.textContent + "<\/script>";
  function child(suffix, set) {
    var f = document.createElement("iframe");
    f.name = name.replace("nest", "") + "." + suffix;
    set(f);
    document.documentElement.appendChild(f);
  }
  child("srcdoc", function (f) { f.srcdoc = source; });
  child("blob", function (f) { f.src = URL.createObjectURL(new Blob([source], { type: "text/html" })); });
  child("blank", function (f) {
    f.onload = function () {
      if (f.contentWindow.probed) return;
      f.contentWindow.probed = true;
      f.contentDocument.open();
      f.contentDocument.write(source);
      f.contentDocument.close();
    };
    f.src = "about:blank";
  });
})();
