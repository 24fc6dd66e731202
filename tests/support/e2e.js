// Served beside every end-to-end page as "e2e.js" (ShellHarness copies it
// into each bundle): waiting, the step protocol with the test's driver,
// page callbacks as promises, and handing the report to the test. Pages
// keep only their checks.
var E2E = (function () {
  var T = corvane.test;
  var seq = 0;

  function sleep(ms) { return new Promise(function (done) { setTimeout(done, ms); }); }

  // Resolves with the first truthy answer of `condition()`, or with its
  // last answer after `ms`.
  async function until(condition, ms) {
    for (var end = Date.now() + ms; !condition() && Date.now() < end;) await sleep(50);
    return condition();
  }

  // Names a step in the console ("E2E-STEP name data") for the driver, which
  // acts and then creates <CORVANE_E2E_ACK>/<name>; resolves true once it has
  // (false after a minute).
  function step(name, data) {
    console.log("E2E-STEP " + name + " " + JSON.stringify(data || {}));
    var ack = T.environment("CORVANE_E2E_ACK") + "/" + name;
    return until(function () { return corvane.path.pathIsExist(ack); }, 60000);
  }

  // Calls `call` with the name of a fresh page function and resolves with
  // the first value that function gets: a callback-taking bridge method as
  // a promise. The function goes away once it was called.
  function answer(call) {
    return new Promise(function (resolve) {
      var name = "__e2eAnswer" + (++seq);
      window[name] = function (value) { delete window[name]; resolve(value); };
      call(name);
    });
  }

  function finish(report) { T.finish(JSON.stringify(report)); }

  // Runs the page's checks (a function, maybe async, answering the report)
  // once the page has loaded and hands the report over (none when they
  // answer nothing: a page that reloads reports from its next load); an
  // exception is reported as "pageError", with what `partial` had
  // collected so far.
  function run(checks, partial) {
    function go() {
      Promise.resolve().then(checks).then(function (report) {
        if (report !== undefined) finish(report);
      }, function (e) {
        finish({ pageError: String(e && e.stack || e) + " @ " + (e && e.line || ""), partial: partial });
      });
    }
    if (document.readyState === "complete") go();
    else window.addEventListener("load", go);
  }

  // Checks made where the expected value is known: expect() keeps each
  // failed one under its name with what the page saw, and a page hands
  // `mismatches` over in its report for the test to find it empty.
  var mismatches = {};
  function same(a, b) {
    if (a === b) return true;
    if (!a || !b || typeof a !== "object" || typeof b !== "object") return false;
    if (Array.isArray(a) !== Array.isArray(b)) return false;
    var keys = Object.keys(a);
    return keys.length === Object.keys(b).length && keys.every(function (k) { return same(a[k], b[k]); });
  }
  function expect(name, got, want) {
    if (!same(got, want)) mismatches[name] = { got: got === undefined ? "undefined" : got, want: want };
    return got;
  }

  return { sleep: sleep, until: until, step: step, answer: answer, finish: finish, run: run, expect: expect,
    mismatches: mismatches };
})();
