// Bundle plug-ins and built-in tasks run from the page, their messages
// counted as the page receives them.
(function () {
  var W = corvane.window;
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
  // A task that cannot run: its answer comes at once, before the call returns.
  function failing(name, params) {
    params.callback = collector(name);
    exec("execTask", params);
    R[name] = got[name].slice();
  }

  async function run() {
    exec("execTask", { taskToolPath: "/plugin/Sample.bundle", bundleClassName: "SamplePlugin",
      passBack: collector("sample"), callback: collector("sampleAnswer"), arguments: { from: "page" } });
    R.sample = await waitFor("sample", 4);
    R.sampleAnswer = got.sampleAnswer.slice();

    exec("execTask", { taskToolPath: "/PlugIns/Sample.bundle", bundleClassName: "SamplePlugin",
      passBack: collector("hello"), callMethod: "hello", arguments: [1, "two"] });
    R.helloAtOnce = got.hello.slice();

    failing("missing", { taskToolPath: "/PlugIns/Missing.bundle" });
    failing("noClass", { taskToolPath: "/PlugIns/Empty.bundle", bundleClassName: "Nope" });
    failing("broken", { taskToolPath: "/PlugIns/Broken.bundle", bundleClassName: "Nope" });
    failing("escape", { taskToolPath: "/../../Outside.bundle", bundleClassName: "Flood" });
    failing("noThread", { useThread: false, taskToolPath: "/PlugIns/Sample.bundle",
      bundleClassName: "SamplePlugin", passBack: collector("neverRun") });
    try { W.execTask(42); R.notText = "no throw"; } catch (e) { R.notText = String(e); }

    exec("execTask", { taskToolPath: "/PlugIns/TestTasks.bundle", bundleClassName: "Flood",
      passBack: collector("flood"), arguments: { threads: 4, messages: 100 } });
    var flood = await waitFor("flood", 401);
    R.floodCount = flood.length;
    R.floodLast = flood[flood.length - 1];
    var inOrder = true, expected = {};
    flood.slice(0, -1).forEach(function (m) {
      if (m.n !== (expected[m.thread] || 0)) inOrder = false;
      expected[m.thread] = m.n + 1;
    });
    R.floodInOrder = inOrder;

    exec("execBuildInTask", { className: "EchoTask", passBack: collector("echo"), callback: collector("echoAnswer"),
      callMethod: "ping", arguments: { n: 7 } });
    R.echoAtOnce = got.echo.length;
    R.echo = await waitFor("echo", 1);
    R.echoAnswer = got.echoAnswer.slice();

    exec("execBuildInTask", { className: "Counter", passBack: collector("counter") });
    exec("execBuildInTask", { className: "Counter", passBack: "counter" });
    R.counter = await waitFor("counter", 2);

    exec("execBuildInTask", { className: "NoSuchTask", callback: collector("noBuiltIn") });
    R.noBuiltIn = got.noBuiltIn.slice();
    await E2E.sleep(300);  // anything late would land now
    R.neverRun = got.neverRun;
    return R;
  }

  E2E.run(run, R);
})();
