// What every scenario page of the application-life tests shares: the test
// service, polling a condition, and handing the report to the test.
var scenario = (function () {
  var T = corvane.test;
  return {
    T: T,
    // The scenario the test chose through the environment variable `name`.
    mode: function (name) { return T.environment(name); },
    poll: function (check, done) {
      var timer = setInterval(function () {
        var v = check();
        if (v) { clearInterval(timer); done(v); }
      }, 100);
    },
    finish: function (report) { T.finish(JSON.stringify(report)); }
  };
})();
