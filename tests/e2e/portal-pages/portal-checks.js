// The dialogs and an address hand-off through the desktop portal: the
// driver answers the portal's dialogs as a person would. The dialogs run
// inside the call, so each answer has come when the call returns.
E2E.run(async function () {
  var W = corvane.window, R = {};
  var d = corvane.test.environment("CORVANE_E2E_DIALOGS");
  window.portalOpened = function (r) {
    var file = (r.filesArray || [])[0] || {};
    R.open = [r.success, r.filesCount, file.filePath, file.fileSize, r.parentDir];
  };
  window.portalSaved = function (r) { R.save = [r.success, r.filePath, r.extension]; };
  W.openFile(JSON.stringify({ title: "E2E Portal Open", types: ["txt"], directory: d, callback: "portalOpened" }));
  W.saveFile(JSON.stringify({ title: "E2E Portal Save", fileName: "saved", types: ["txt"], directory: d,
    callback: "portalSaved" }));
  corvane.app.open("https://portal.example/check?from=page");
  // The driver reads the window's class and icon meanwhile.
  await E2E.step("handed-off");
  return R;
});
