// The application's page inside a foreign main frame (see framer.html in
// HostileE2ETest.cpp). Its callbacks by name and its events must run here,
// never in the foreign top, which defines the same names to catch them.
(function () {
  var T = corvane.test;
  var R = T.getValue() || {};
  var F = { bridge: typeof corvane };
  try { F.top = typeof top.corvane; } catch (e) { F.top = "threw " + e.name; }
  var own = { onNow: 0, callbacks: 0, events: 0, kept: 0 };
  window.onNow = function () { own.onNow++; };
  window.hostileCallback = function () { own.callbacks++; };
  document.addEventListener("hostileEvent", function () { own.events++; });

  T.callNow('{"callback":"onNow","value":1}');
  F.callbackBeforeReturn = own.onNow === 1;
  T.fireEventWithData("hostileEvent", { secret: "application data" });
  F.dataEventAtOnce = own.events === 1;
  T.fireEvent("hostileEvent");
  T.callFromThread('{"callback":"hostileCallback","count":3}');
  T.keepFunction(function () { own.kept++; });
  T.callKeptLater(1);

  window.addEventListener("message", function (e) {
    if (!e.data || e.data.kind !== "framer") return;
    F.framer = e.data;
    F.own = own;
    R.framed = F;
    T.finish(JSON.stringify(R));
  });
  var started = Date.now();
  (function poll() {
    var done = own.callbacks === 3 && own.events === 2 && own.kept === 1;
    if (!done && Date.now() - started < 30000) { setTimeout(poll, 20); return; }
    top.postMessage("report?", "*");
  })();
})();
