// Helper services from a page: registration, many messages in flight from
// this page and a second one, and a helper that never answers. The findings go to corvane.test.finish().
(function () {
  var A = corvane.app, T = corvane.test, R = {};
  var DEF = "XPCKEY_ZavrelonLAB_Default";
  var ECHO = "org.corvane.test.EchoHelper", ECHO2 = "org.corvane.test.EchoHelper2";

  function reg(key, id) { return A.registerNewXPCService(JSON.stringify({ key: key, id: id })); }
  // A message whose answer comes to a page function of its own.
  function send(key, dic, timeout) {
    return E2E.answer(function (name) {
      var args = { callback: name, xpc_key: key };
      if (dic !== undefined) args.messageDic = dic;
      if (timeout !== undefined) args.timeout = timeout;
      A.sendMessageToXPCService(JSON.stringify(args));
    });
  }
  var until = E2E.until;

  // The second page: its own messages, at the same time as the first
  // page's, to the first page's key and the default one; the answers go
  // back to the first page.
  async function child() {
    var sends = [];
    for (var i = 0; i < 30; i++) sends.push(i % 2 ? send("echo", { child: i }) : send(DEF, { ms_type: "PING", child: i }));
    var answers = await Promise.all(sends);
    window.opener.postMessage({ childAnswers: answers }, "*");
  }

  async function run() {
    var childAnswers = null;
    window.addEventListener("message", function (e) {
      if (e.data && e.data.childAnswers) childAnswers = e.data.childAnswers;
    });
    R.hasDefault = A.hasXPCService(DEF);
    R.refused = [reg("", ECHO), reg("e", ""), A.registerNewXPCService("not json"), reg("bad", "not a bus name")];
    R.register = [reg("echo", ECHO), reg("echo", ECHO2)];
    R.hasEcho = A.hasXPCService("echo");

    var other = window.open("index.html#child", "_blank", "width=300,height=200");
    var many = [];
    for (var i = 0; i < 40; i++) many.push(i % 2 ? send("echo", { i: i }) : send(DEF, { ms_type: "PING", i: i }));
    R.many = await Promise.all(many);
    R.childReported = await until(function () { return childAnswers !== null; }, 90000);
    R.childAnswers = childAnswers;
    if (other) other.close();

    R.unreg = [reg("unreg", ECHO2), A.unRegisterXPCService("unreg"), A.unRegisterXPCService("unreg")];

    // A helper that never answers: more calls than one connection sends at
    // a time, each ending with a time-out error, while the other helpers
    // answer at once.
    R.hungRegistered = reg("hung", ECHO2);
    var hung = [];
    for (var h = 0; h < 70; h++) hung.push(send("hung", { ms_type: "SILENT" }, 2));
    var t0 = Date.now();
    R.defaultWhileHung = await send(DEF, { ms_type: "PING" });
    R.echoWhileHung = await send("echo", { whileHung: true });
    R.othersWaitedMs = Date.now() - t0;
    R.hung = await Promise.all(hung);
    A.unRegisterXPCService("hung");
    R.hasDefaultAtEnd = A.hasXPCService(DEF);
    return R;
  }
  // The session bus goes away under the running application (the test
  // kills its daemon after "ARM-BUS"): the page keeps running and its calls
  // keep answering; what needs the bus fails softly.
  async function busLost() {
    var dir = T.environment("HELPERS_DIR");
    R.registered = reg("echo", ECHO);
    R.before = await send("echo", { hi: 1 });
    console.log("ARM-BUS");
    R.echoGone = await until(function () { return !A.hasXPCService("echo"); }, 60000);
    R.ext = corvane.path.getFileExt("a.tar.gz");
    R.defaultAnswer = await send(DEF, { ms_type: "PING" });
    R.defaultGone = !A.hasXPCService(DEF);
    R.registerAfter = reg("late", ECHO2);
    R.lateGone = await until(function () { return !A.hasXPCService("late"); }, 30000);
    corvane.growl.notify(JSON.stringify({ title: "t", content: "c" }));
    corvane.dock.setBadge("5");
    R.badge = corvane.dock.badge;
    console.log("BUS-LOST-DONE");
    await until(function () { return T.pathExists(dir + "/second-done"); }, 90000);
    R.stillAnswering = corvane.path.getFileExt("b.zip");
    return R;
  }
  var mode = T.environment("HELPERS_MODE");
  if (mode === "second") {
    E2E.finish({ second: true });
    return;
  }
  if (location.hash === "#child") {
    child();
    return;
  }
  E2E.run(mode === "bus-lost" ? busLost : run);
})();
