// Hostile documents around the application, in file mode and server mode,
// each probing the bridge directly and through parent, top and opener
// (probe.js), and the application's callbacks and events, which must land
// only in its own documents.
(function () {
  var T = corvane.test;
  // Back from the foreign pages (server mode): restored from the page cache
  // or loaded again, this page's callbacks must run here as before.
  function home(persisted) {
    var R = T.getValue();
    var ran = 0;
    window.onHome = function () { ran++; };
    T.callNow('{"callback":"onHome"}');
    R.home = { persisted: persisted, ran: ran };
    T.finish(JSON.stringify(R));
  }
  var state = T.getValue();
  if (state && state.phase === "home") { home(false); return; }
  window.addEventListener("pageshow", function (e) { if (e.persisted) home(true); });

  var env = JSON.parse(T.environment("CORVANE_E2E_HOSTILE"));
  var fileMode = location.protocol === "file:";
  var R = { mode: fileMode ? "file" : "server" };
  var probes = {};
  var own = { callbacks: 0, events: 0 };
  window.hostileCallback = function () { own.callbacks++; };
  document.addEventListener("hostileEvent", function () { own.events++; });
  window.addEventListener("message", function (e) {
    if (e.data && e.data.kind === "probe") probes[e.data.name] = e.data;
  });

  var probeText = (function () {
    var x = new XMLHttpRequest();
    x.open("GET", "probe.js", false);
    x.send();
    return x.responseText;
  })();
  var inline = "<!DOCTYPE html><body><script>" + probeText + "<\/script></body>";
  var foreign = "file://" + env.outside + "/foreign.html";
  var other = "http://127.0.0.1:" + env.otherPort;

  function frame(name, set) {
    var f = document.createElement("iframe");
    f.name = name;
    set(f);
    document.body.appendChild(f);
    return f;
  }
  function waitFor(condition, then) { E2E.until(condition, 30000).then(then); }
  function finish() {
    R.probes = probes;
    R.own = own;
    T.finish(JSON.stringify(R));
  }

  function fileFrames() {
    frame("foreign", function (f) { f.src = foreign + "?name=foreign"; });
    // The same foreign file reached from inside the application's folder.
    frame("dotdot", function (f) { f.src = "../../../../outside/foreign.html?name=dotdot"; });
    var o = document.createElement("object");
    o.data = foreign + "?name=object";
    o.type = "text/html";
    document.body.appendChild(o);
    window.open(foreign + "?name=windowForeign", "_blank");
  }

  function serverFrames() {
    frame("otherPortnest", function (f) { f.src = other + "/probe.html?name=otherPortnest"; });
    frame("fileFromServer", function (f) { f.src = foreign + "?name=fileFromServer"; });
    window.open(other + "/probe.html?name=windowOther", "_blank");
  }

  function commonFrames() {
    frame("datanest", function (f) { f.src = "data:text/html," + encodeURIComponent(inline); });
    frame("sandboxed", function (f) { f.sandbox = "allow-scripts"; f.src = "probe.html?name=sandboxed"; });
    frame("sandboxedSame", function (f) { f.sandbox = "allow-scripts allow-same-origin"; f.src = "probe.html?name=sandboxedSame"; });
    frame("sandboxedSrcdocnest", function (f) { f.sandbox = "allow-scripts"; f.srcdoc = inline; });
    // The application's own srcdoc document and the srcdoc, blob: and
    // about:blank documents it makes: no bridge of their own, but they share
    // the application's origin.
    frame("appnest", function (f) { f.srcdoc = inline; });
  }

  var expected = ["opened", "datanest", "data.srcdoc", "data.blob", "data.blank", "sandboxed", "sandboxedSame",
    "sandboxedSrcdocnest", "sandboxedSrcdoc.srcdoc", "sandboxedSrcdoc.blob", "appnest", "app.srcdoc", "app.blob",
    "app.blank"];
  if (!fileMode)
    expected = expected.concat(["otherPortnest", "otherPort.srcdoc", "otherPort.blob", "otherPort.blank", "windowOther"]);

  // A window of the application itself: a bridge root of its own, whose
  // objects are foreign receivers here.
  var opened = window.open("probe.html?name=opened", "_blank");

  window.addEventListener("load", function () {
    try {
      if (fileMode) fileFrames(); else serverFrames();
      commonFrames();
    } catch (e) {
      R.pageError = String(e);
    }
    waitFor(function () {
      return expected.every(function (n) { return probes[n]; });
    }, afterProbes);
  });

  function afterProbes() {
    try {
      R.receivers = checkReceivers(opened && opened.corvane);
      R.serialisation = checkSerialisation();
    } catch (e) {
      R.pageError = String(e) + " @ " + (e.line || "");
    }
    // Callbacks by name and events of every kind: all of them must come here.
    T.callNow('{"callback":"hostileCallback"}');
    T.fireEventWithData("hostileEvent", { x: 1 });
    T.fireEvent("hostileEvent");
    T.callFromThread('{"callback":"hostileCallback","count":2}');
    waitFor(function () { return own.callbacks >= 3 && own.events >= 2; }, fileMode ? topToForeignFile : topToForeignServer);
  }

  function topToForeignFile() {
    // A foreign file in the main frame, framing the application: refused,
    // so this page stays. A frame started after it proves the page is alive.
    location.href = "file://" + env.outside + "/framer.html?app=" + encodeURIComponent(location.href.replace("index.html", "framed.html"));
    frame("afterTop", function (f) { f.src = "probe.html?name=afterTop"; });
    waitFor(function () { return probes.afterTop; }, function () {
      R.stayed = location.pathname.slice(-10);
      finish();
    });
  }

  function topToForeignServer() {
    // The main frame goes to a foreign page that frames the application's
    // own framed.html (framed.js, back.html), and comes back here at the
    // end through the page cache.
    R.probes = probes;
    R.own = own;
    R.phase = "framed";
    T.setValue(R);
    setTimeout(function () {
      location.href = other + "/framer.html?app=" + encodeURIComponent(location.origin + "/framed.html");
    }, 0);
  }
})();
