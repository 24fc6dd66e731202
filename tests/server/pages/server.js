// One local-server scenario, chosen by the test through SERVER_MODE, and
// reported through the test service.
(function () {
  var T = corvane.test;
  var mode = T.environment("SERVER_MODE");
  function finish(report) {
    report.href = location.href;
    report.origin = location.origin;
    T.finish(JSON.stringify(report));
  }
  if (mode === "report") {
    finish({ filled: document.body.textContent.indexOf("Served at A") >= 0 });
  } else if (mode === "storage") {
    // Counts the starts that saw the same stored data.
    var visits = Number(localStorage.getItem("visits") || "0") + 1;
    localStorage.setItem("visits", String(visits));
    finish({ visits: visits });
  } else if (mode === "module") {
    import("./linked.mjs").then(function (m) {
      finish({ value: m.value });
    }, function (e) {
      finish({ error: String(e) });
    });
  } else if (mode === "wait") {
    console.log("server page ready");
  }
})();
