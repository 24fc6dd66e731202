// Helper services from a page: registration, many messages in flight from
// this page and a second one, and a helper that never answers; or (bus-lost)
// the session bus going away under the page.
(function () {
  var A = corvane.app, T = corvane.test, expect = E2E.expect;
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
  // Odd messages go to the echo helper, even ones to the agent. (What a
  // reply holds, and that unknown keys send nothing, is HelperConnectionTest's.)
  function sendMany(count, field) {
    var sends = [];
    for (var i = 0; i < count; i++) {
      var dic = i % 2 ? {} : { ms_type: "PING" };
      dic[field] = i;
      sends.push(send(i % 2 ? "echo" : DEF, dic));
    }
    return Promise.all(sends);
  }
  function expectOwnReplies(what, answers, field) {
    answers.forEach(function (one, i) {
      var want = {};
      want[field] = i;
      want.con_id = "echo";
      expect(what + " " + i, one.success && (i % 2 ? one.message.echo : JSON.parse(one.message).info),
        i % 2 ? want : "PONG");
    });
  }

  // The second page: its own messages, at the same time as the first
  // page's, to the first page's key and the default one; the answers go
  // back to the first page.
  async function child() {
    window.opener.postMessage({ childAnswers: await sendMany(30, "child") }, "*");
  }

  async function run() {
    var childAnswers = null;
    window.addEventListener("message", function (e) {
      if (e.data && e.data.childAnswers) childAnswers = e.data.childAnswers;
    });
    expect("default helper", A.hasXPCService(DEF), true);
    expect("refused registrations", [reg("", ECHO), reg("e", ""), A.registerNewXPCService("not json"),
      reg("bad", "not a bus name")], [false, false, false, false]);
    expect("registrations", [reg("echo", ECHO), reg("echo", ECHO2)], [true, false]);
    expect("registered", A.hasXPCService("echo"), true);

    var other = window.open("index.html#child", "_blank", "width=300,height=200");
    var many = await sendMany(40, "i");
    expect("many", many.length, 40);
    expectOwnReplies("message", many, "i");
    expect("child reported", await until(function () { return childAnswers !== null; }, 90000), true);
    expect("child answers", (childAnswers || []).length, 30);
    expectOwnReplies("child's message", childAnswers || [], "child");
    if (other) other.close();

    expect("unregistration", [reg("unreg", ECHO2), A.unRegisterXPCService("unreg"), A.unRegisterXPCService("unreg")],
      [true, true, false]);

    // A helper that never answers: more calls than one connection sends at
    // a time, each ending with a time-out error, while the other helpers
    // answer at once.
    expect("silent helper registered", reg("hung", ECHO2), true);
    var hung = [];
    for (var h = 0; h < 70; h++) hung.push(send("hung", { ms_type: "SILENT" }, 2));
    var t0 = Date.now();
    expect("default while hung", (await send(DEF, { ms_type: "PING" })).success, true);
    expect("echo while hung", (await send("echo", { whileHung: true })).message.echo.whileHung, true);
    expect("others waited for the silent helper", Date.now() - t0 < 2000, true);
    var timedOut = { success: false, error: "the helper did not answer within 2 s" };
    expect("silent helper's answers", await Promise.all(hung), hung.map(function () { return timedOut; }));
    A.unRegisterXPCService("hung");
    expect("default helper at the end", A.hasXPCService(DEF), true);
    return { mismatches: E2E.mismatches };
  }

  // The session bus goes away under the running application (the test
  // kills its daemon after "ARM-BUS"): the page keeps running and its calls
  // keep answering; what needs the bus fails softly.
  async function busLost() {
    var dir = T.environment("HELPERS_DIR");
    reg("echo", ECHO);
    expect("before", (await send("echo", { hi: 1 })).success, true);
    console.log("ARM-BUS");
    expect("echo gone", await until(function () { return !A.hasXPCService("echo"); }, 60000), true);
    expect("ext", corvane.path.getFileExt("a.tar.gz"), "gz");
    var answer = await send(DEF, { ms_type: "PING" });
    expect("default answers an error", answer.success === false && typeof answer.error, "string");
    expect("default gone", A.hasXPCService(DEF), false);
    expect("registration never waits for the bus", reg("late", ECHO2), true);
    expect("late gone", await until(function () { return !A.hasXPCService("late"); }, 30000), true);
    corvane.growl.notify(JSON.stringify({ title: "t", content: "c" }));
    corvane.dock.setBadge("5");
    expect("badge", corvane.dock.badge, "5");
    console.log("BUS-LOST-DONE");
    await until(function () { return T.pathExists(dir + "/second-done"); }, 90000);
    expect("still answering", corvane.path.getFileExt("b.zip"), "zip");
    return { mismatches: E2E.mismatches };
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
