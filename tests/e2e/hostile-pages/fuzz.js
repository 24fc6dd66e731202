// Every method of app, path, iap, tray and the test object called with
// hostile values, at least 100,000 calls in all. Every call must come back
// (with a value or a script error), the shell must stay up, and the bridge
// must still answer correctly afterwards. Left out: the methods that end
// the run or hand the value to another program (a browser, a mail client,
// a launched app).
(function () {
  var T = corvane.test;
  var skip = {
    app: ["terminate", "relaunch", "open", "launch", "openFile", "sendEmail"],
    path: [],
    iap: [],
    tray: [],
    test: ["finish", "closeMainWindow", "callFromThread", "resize"]
  };
  var fuzzCalls = 0;
  window.fuzzCallback = function () { fuzzCalls++; };

  var cyclic = { name: "cyclic" };
  cyclic.self = cyclic;
  var throwing = {};
  Object.defineProperty(throwing, "boom", { enumerable: true, get: function () { throw new Error("getter"); } });
  var values = [
    undefined, null, true, false, 0, -0, 1, -1, 0.5, NaN, Infinity, -Infinity, 1e308, -1e-308, 9007199254740993,
    4294967296, -2147483649, "", " ", "a", "0", "true", "null", "undefined", "[]", "{}", "{", "[1,2",
    '{"callback":"fuzzCallback","value":1}', '{"callback":"fuzzCallback","path":null,"a":[1,{"b":2}]}',
    '{"callback":"no.such.function"}', '{"callback":""}', '[{"callback":"fuzzCallback"}]', '"text"',
    "/etc/passwd", "/nonexistent/\u00e9\u00e8", "../../../../../../../../etc/passwd", "file:///etc/passwd",
    "${HOME}/${NOPE}/${", "%s%n%x%p", "\\", "'\")(;//", "</script><script>", "a\u0000b", "\ud800", "\udfff\ud800",
    "\u2028\u2029", "\ufeff\u200b", "x".repeat(10000), "\ud83d\ude00".repeat(500),
    [], [1, "two", null], [[[[[[[[[[]]]]]]]]]], {}, { a: 1 }, { callback: "fuzzCallback" }, Object.create(null),
    cyclic, throwing, { toJSON: function () { throw new Error("toJSON"); } }, { toJSON: function () { return corvane; } },
    function () { return 1; }, Symbol("s"), new Date(0), /re/g, new Uint8Array([1, 2, 3]), new ArrayBuffer(8),
    new Proxy({}, { get: function () { throw new Error("trap"); }, ownKeys: function () { throw new Error("keys"); } }),
    new Map([[1, 2]]), new Error("err"), corvane, corvane.path, corvane.app, [corvane.test, { p: corvane.path }],
    { length: 1e9 }, Promise.resolve(1)
  ];
  try { values.push(BigInt(12345)); } catch (e) { /* no BigInt */ }

  var outcome = { calls: 0, returned: 0, errors: {}, methods: 0, perMethod: {}, unexpected: [] };
  var targets = [];
  ["app", "path", "iap", "tray", "test"].forEach(function (member) {
    var obj = corvane[member];
    Object.getOwnPropertyNames(Object.getPrototypeOf(obj)).forEach(function (name) {
      var fn = obj[name];
      if (typeof fn !== "function" || name === "toJSON" || skip[member].indexOf(name) >= 0) return;
      targets.push({ label: member + "." + name, obj: obj, fn: fn });
    });
  });
  outcome.methods = targets.length;

  function callAll(round) {
    targets.forEach(function (t) {
      var n = 0;
      values.forEach(function (v, i) {
        var second = values[(i * 7 + round) % values.length];
        var args = round % 3 === 0 ? [v] : round % 3 === 1 ? [v, second] : [second, v, v, second];
        outcome.calls++;
        n++;
        try {
          t.fn.apply(t.obj, args);
          outcome.returned++;
        } catch (e) {
          var name = e && e.name ? e.name : typeof e;
          outcome.errors[name] = (outcome.errors[name] || 0) + 1;
          // Script errors from our argument checks and the method itself are
          // expected; anything saying the application went away is not.
          if (String(e && e.message).indexOf("not reachable") >= 0 && outcome.unexpected.length < 5)
            outcome.unexpected.push(t.label + ": " + e.message);
        }
      });
      outcome.perMethod[t.label] = (outcome.perMethod[t.label] || 0) + n;
    });
  }

  var round = 0;
  (function next() {
    // Rounds in separate tasks, so queued callbacks and events get to run.
    callAll(round++);
    if (outcome.calls < 100000) { setTimeout(next, 0); return; }
    // The bridge still answers, with the right values.
    outcome.after = {
      ext: corvane.path.getFileExt("a.tar.gz"),
      name: corvane.app.getAppName(),
      echo: T.echo({ k: [1, "v"] }),
      identity: T.echo(corvane.path) === corvane.path
    };
    outcome.fuzzCallbacks = fuzzCalls;
    outcome.rounds = round;
    T.finish(JSON.stringify(outcome));
  })();
})();
