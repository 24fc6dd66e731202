// Every check of the plug-in end-to-end test: bundle plug-ins and built-in
// tasks run from the page, their messages counted as the page receives
// them. The last step hands the findings to corvane.test.finish().
(function () {
  var W = corvane.window, T = corvane.test;
  var R = {};
  var got = {};

  // A page function that keeps every value it is called with.
  function collector(name) {
    got[name] = [];
    window[name] = function (v) { got[name].push(v); };
    return name;
  }
  function waitFor(name, n, then) {
    var start = Date.now();
    (function poll() {
      if (got[name].length >= n || Date.now() - start > 90000) then(got[name].slice());
      else setTimeout(poll, 25);
    })();
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

  var steps = [
    function (next) {
      exec("execTask", { taskToolPath: "/plugin/Sample.bundle", bundleClassName: "SamplePlugin",
        passBack: collector("sample"), callback: collector("sampleAnswer"), arguments: { from: "page" } });
      waitFor("sample", 4, function (v) { R.sample = v; R.sampleAnswer = got.sampleAnswer.slice(); next(); });
    },
    function (next) {
      exec("execTask", { taskToolPath: "/PlugIns/Sample.bundle", bundleClassName: "SamplePlugin",
        passBack: collector("hello"), callMethod: "hello", arguments: [1, "two"] });
      R.helloAtOnce = got.hello.slice();
      next();
    },
    function (next) {
      failing("missing", { taskToolPath: "/PlugIns/Missing.bundle" });
      failing("noClass", { taskToolPath: "/PlugIns/Empty.bundle", bundleClassName: "Nope" });
      failing("broken", { taskToolPath: "/PlugIns/Broken.bundle", bundleClassName: "Nope" });
      failing("escape", { taskToolPath: "/../../Outside.bundle", bundleClassName: "Flood" });
      failing("noThread", { useThread: false, taskToolPath: "/PlugIns/Sample.bundle",
        bundleClassName: "SamplePlugin", passBack: collector("neverRun") });
      try { W.execTask(42); R.notText = "no throw"; } catch (e) { R.notText = String(e); }
      next();
    },
    function (next) {
      exec("execTask", { taskToolPath: "/PlugIns/TestTasks.bundle", bundleClassName: "Flood",
        passBack: collector("flood"), arguments: { threads: 4, messages: 100 } });
      waitFor("flood", 401, function (v) {
        R.floodCount = v.length;
        R.floodLast = v[v.length - 1];
        var ok = true, next_ = {};
        v.slice(0, -1).forEach(function (m) {
          if (m.n !== (next_[m.thread] || 0)) ok = false;
          next_[m.thread] = m.n + 1;
        });
        R.floodInOrder = ok;
        next();
      });
    },
    function (next) {
      exec("execBuildInTask", { className: "EchoTask", passBack: collector("echo"), callback: collector("echoAnswer"),
        callMethod: "ping", arguments: { n: 7 } });
      R.echoAtOnce = got.echo.length;
      waitFor("echo", 1, function (v) { R.echo = v; R.echoAnswer = got.echoAnswer.slice(); next(); });
    },
    function (next) {
      exec("execBuildInTask", { className: "Counter", passBack: collector("counter") });
      exec("execBuildInTask", { className: "Counter", passBack: "counter" });
      waitFor("counter", 2, function (v) { R.counter = v; next(); });
    },
    function (next) {
      exec("execBuildInTask", { className: "NoSuchTask", callback: collector("noBuiltIn") });
      R.noBuiltIn = got.noBuiltIn.slice();
      R.lastPath = W.lastPluginBundlePath();
      R.registry = W.pluginBundlePath2BundelTaskDic();
      setTimeout(next, 300);  // anything late would land now
    },
    function () {
      R.neverRun = got.neverRun;
      T.finish(JSON.stringify(R));
    }
  ];

  function run(i) {
    try {
      steps[i](function () { run(i + 1); });
    } catch (e) {
      T.finish(JSON.stringify({ pageError: String(e) + " @ step " + i }));
    }
  }
  window.addEventListener("load", function () { run(0); });
})();
