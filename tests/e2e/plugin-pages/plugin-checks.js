// Bundle plug-ins and built-in tasks run from the page, their messages
// counted as the page receives them.
(function () {
  var W = corvane.window, expect = E2E.expect;
  var R = {};
  var got = {};

  // A page function that keeps every value it is called with.
  function collector(name) {
    got[name] = [];
    window[name] = function (v) { got[name].push(v); };
    return name;
  }
  // What page function `name` was called with once it was called `n` times.
  async function waitFor(name, n) {
    await E2E.until(function () { return got[name].length >= n; }, 90000);
    return got[name].slice();
  }
  function exec(method, params) {
    if (params.useThread === undefined) params.useThread = true;
    W[method](JSON.stringify(params));
  }
  // A task that cannot run: its answer comes at once, before the call
  // returns (the reasons are PluginTasksTest's; the test checks the log).
  function failing(name, params) {
    params.callback = collector(name);
    exec("execTask", params);
    expect(name + " answered at once", got[name].length === 1 && got[name][0].success, false);
  }

  async function run() {
    exec("execTask", { taskToolPath: "/plugin/Sample.bundle", bundleClassName: "SamplePlugin",
      passBack: collector("sample"), callback: collector("sampleAnswer"), arguments: { from: "page" } });
    var sample = await waitFor("sample", 4);
    expect("sample progress", sample.slice(0, 3), [1, 2, 3].map(function (i) { return { progress: i, of: 3 }; }));
    R.summary = sample[3];
    expect("sample summary", [R.summary.greeting, R.summary.arguments, R.summary.setterCalls],
      ["Hello from the sample plug-in", { from: "page" }, 6]);
    expect("a running task answers through its delegate only", got.sampleAnswer, []);

    exec("execTask", { taskToolPath: "/PlugIns/Sample.bundle", bundleClassName: "SamplePlugin",
      passBack: collector("hello"), callMethod: "hello", arguments: [1, "two"] });
    expect("bundle plug-ins run within the call", got.hello, [{ method: "hello", arguments: [1, "two"] }]);

    failing("missing", { taskToolPath: "/PlugIns/Missing.bundle" });
    failing("noClass", { taskToolPath: "/PlugIns/Empty.bundle", bundleClassName: "Nope" });
    failing("broken", { taskToolPath: "/PlugIns/Broken.bundle", bundleClassName: "Nope" });
    failing("escape", { taskToolPath: "/../../Outside.bundle", bundleClassName: "Flood" });
    exec("execTask", { useThread: false, taskToolPath: "/PlugIns/Sample.bundle", bundleClassName: "SamplePlugin",
      passBack: collector("neverRun"), callback: collector("noThread") });
    expect("without a thread", got.noThread, [{ success: true }]);
    try { W.execTask(42); } catch (e) { expect("not a text", String(e), "no throw"); }

    // Messages from many threads all reach the page, each thread's in order.
    exec("execTask", { taskToolPath: "/PlugIns/TestTasks.bundle", bundleClassName: "Flood",
      passBack: collector("flood"), arguments: { threads: 4, messages: 100 } });
    var flood = await waitFor("flood", 401);
    expect("flood count", flood.length, 401);
    expect("flood last", flood[flood.length - 1], { done: true, posted: 400 });
    var next = {};
    flood.slice(0, -1).forEach(function (m) {
      expect("flood thread " + m.thread + " message " + m.n, m.n, next[m.thread] || 0);
      next[m.thread] = m.n + 1;
    });

    // Built-in tasks run by name, later, on the background pool.
    exec("execBuildInTask", { className: "EchoTask", passBack: collector("echo"), callback: collector("echoAnswer"),
      callMethod: "ping", arguments: { n: 7 } });
    expect("built-in work at once", got.echo.length, 0);
    expect("built-in echo", await waitFor("echo", 1), [{ method: "ping", arguments: { n: 7 }, mainThread: false }]);
    expect("built-in answer", got.echoAnswer, []);
    exec("execBuildInTask", { className: "Counter", passBack: collector("counter") });
    exec("execBuildInTask", { className: "Counter", passBack: "counter" });
    var counter = await waitFor("counter", 2);
    // A class of a loaded bundle, fresh instances.
    expect("two counters", counter.length === 2 && counter[0].instance !== counter[1].instance, true);
    exec("execBuildInTask", { className: "NoSuchTask", callback: collector("noBuiltIn") });
    expect("no such built-in", got.noBuiltIn, [{ success: false, error: "can't find task class NoSuchTask" }]);
    await E2E.sleep(300);  // anything late would land now
    expect("never run", got.neverRun, []);
    R.mismatches = E2E.mismatches;
    return R;
  }

  E2E.run(run, R);
})();
