// One local-server scenario, chosen by the test through SERVER_MODE, and
// reported through the test service.
(function () {
  var T = corvane.test;
  var mode = T.environment("SERVER_MODE");
  function finish(report) {
    report.origin = location.origin;
    T.finish(JSON.stringify(report));
  }
  if (mode === "storage" || mode === "storage-live") {
    // Counts the starts that saw the same stored data; "storage-live" then
    // stays until the test ends it.
    var visits = Number(localStorage.getItem("visits") || "0") + 1;
    localStorage.setItem("visits", String(visits));
    if (mode === "storage") finish({ visits: visits });
    else console.log("storage page ready at " + location.origin);
  } else if (mode === "portmode") {
    // Waits for the test's go (a file), then frames whatever now answers
    // on the port the server had.
    var port = corvane.app.getHttpServerPort();
    var go = T.environment("GO_FILE");
    console.log("server port " + port);
    window.addEventListener("message", function (e) {
      finish({ frame: String(e.data) });
    });
    var timer = setInterval(function () {
      if (corvane.app.fileSizeAtPath(go) > 0) {
        clearInterval(timer);
        var frame = document.createElement("iframe");
        frame.src = "http://localhost:" + port + "/";
        document.body.appendChild(frame);
      }
    }, 100);
  }
})();
