// The application's page inside a foreign main frame (framer.html in
// HostileE2ETest.cpp). Its callbacks by name and its events must run here,
// never in the foreign top, which defines the same names to catch them.
// Twice: when first loaded, and when the foreign top comes back from the
// page cache after the main frame showed the application's back.html; the
// foreign top's counts must stay 0 throughout.
(function () {
  var T = corvane.test;
  var own = { onNow: 0, callbacks: 0, events: 0, kept: 0 };
  window.onNow = function () { own.onNow++; };
  window.hostileCallback = function () { own.callbacks++; };
  document.addEventListener("hostileEvent", function () { own.events++; });

  function run(phase, next, persisted) {
    var R = T.getValue();
    var F = { bridge: typeof corvane, phase: phase, persisted: persisted };
    try { F.top = typeof top.corvane; } catch (e) { F.top = "threw " + e.name; }
    own = { onNow: 0, callbacks: 0, events: 0, kept: 0 };
    T.callNow('{"callback":"onNow","value":1}');
    F.callbackBeforeReturn = own.onNow === 1;
    T.fireEventWithData("hostileEvent", { secret: "application data" });
    F.dataEventAtOnce = own.events === 1;
    T.fireEvent("hostileEvent");
    T.callFromThread('{"callback":"hostileCallback","count":3}');
    T.keepFunction(function () { own.kept++; });
    T.callKeptLater(1);
    var done = function () { return own.callbacks === 3 && own.events === 2 && own.kept === 1; };
    E2E.until(done, 30000).then(function () {
      window.onmessage = function (e) {
        if (!e.data || e.data.kind !== "framer") return;
        F.framer = e.data;
        F.own = own;
        R[phase] = F;
        R.phase = next;
        T.setValue(R);
        // The foreign top goes on: to the application's back.html, or back.
        top.postMessage(next === "away" ? "go" : "back", "*");
      };
      top.postMessage("report?", "*");
    });
  }

  var state = T.getValue();
  if (state.phase === "framed") run("framed", "away", false);
  else if (state.phase === "restored") run("restored", "home", false);
  window.addEventListener("pageshow", function (e) {
    if (e.persisted && T.getValue().phase === "restored") run("restored", "home", true);
  });
})();
