// The dialogs and an address hand-off through the desktop portal: the page
// asks, the test's driver answers the portal's dialogs as a person would,
// and the findings go to corvane.test.finish(). The dialogs run inside the
// call, so each answer has come when the call returns.
(function () {
  var T = corvane.test, W = corvane.window, P = corvane.path;
  var R = {};
  window.portalOpened = function (r) { R.open = r; };
  window.portalSaved = function (r) { R.save = r; };
  function sleep(ms) { return new Promise(function (done) { setTimeout(done, ms); }); }

  async function run() {
    var d = T.environment("CORVANE_E2E_DIALOGS");
    W.openFile(JSON.stringify({ title: "E2E Portal Open", types: ["txt"], directory: d, callback: "portalOpened" }));
    W.saveFile(JSON.stringify({ title: "E2E Portal Save", fileName: "saved", types: ["txt"], directory: d,
      callback: "portalSaved" }));
    corvane.app.open("https://portal.example/check?from=page");
    // The driver reads the window's class and icon meanwhile.
    var ack = T.environment("CORVANE_E2E_ACK");
    console.log("E2E-STEP handed-off");
    for (var i = 0; i < 1200 && !P.pathIsExist(ack + "/handed-off"); ++i) await sleep(50);
    T.finish(JSON.stringify(R));
  }

  window.addEventListener("load", function () {
    run().catch(function (e) { T.finish(JSON.stringify({ pageError: String(e), partial: R })); });
  });
})();
