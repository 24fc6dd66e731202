// Reloaded thousands of times while its two frames call the bridge without
// pause: every load, in the main frame and in both frames, must find every
// bridge object with all its methods. The first load records the shape;
// the count and every problem live in the native test object between loads.
(function () {
  // member -> its prototype's own names, sorted
  function shape() {
    var out = {};
    ["corvane", "quorlix", "ZVRLabJs"].forEach(function (g) { out[g + ".typeof"] = typeof window[g]; });
    if (typeof window.corvane !== "object") return out;
    Object.keys(corvane).forEach(function (m) {
      out[m] = Object.getOwnPropertyNames(Object.getPrototypeOf(corvane[m])).sort().join(",");
    });
    out[""] = Object.getOwnPropertyNames(Object.getPrototypeOf(corvane)).sort().join(",");
    return out;
  }
  function problems(expected, seen, where) {
    var list = [];
    Object.keys(expected).forEach(function (k) {
      if (expected[k] !== seen[k]) list.push(where + " " + (k || "root") + ": " + seen[k]);
    });
    return list;
  }

  if (parent !== window) {
    // A frame: check, report, then keep the bridge busy until the reload.
    var found = problems(parent.expectedShape || {}, shape(), "frame");
    parent.postMessage({ kind: "frame", problems: found }, "*");
    setInterval(function () {
      for (var i = 0; i < 20; ++i) corvane.path.getFileExt("a.b");
    }, 0);
    return;
  }

  var mine = shape();
  var T = window.corvane && corvane.test;
  var state = T && typeof T.getValue === "function" ? T.getValue() : null;
  if (!state) {
    if (T && typeof T.setValue === "function" && typeof T.environment === "function") {
      state = { loads: 0, wanted: Number(T.environment("CORVANE_E2E_RELOADS")), shape: mine, problems: [] };
    } else {
      // No way to record it natively: the shell's log keeps it.
      console.log("reload check failed: " + JSON.stringify(mine));
      location.reload();
      return;
    }
  }
  window.expectedShape = state.shape;
  var found = problems(state.shape, mine, "main");
  if (found.length) console.log("reload check failed: " + found.join("; "));
  var frames = 0;
  window.addEventListener("message", function (e) {
    if (!e.data || e.data.kind !== "frame") return;
    found = found.concat(e.data.problems);
    if (++frames < 2) return;
    state.loads++;
    state.problems = state.problems.concat(found.slice(0, 5));
    if (state.loads >= state.wanted) {
      T.finish(JSON.stringify({ loads: state.loads, problems: state.problems, shape: state.shape }));
      return;
    }
    T.setValue(state);
    location.reload();
  });
  for (var i = 0; i < 2; ++i) {
    var f = document.createElement("iframe");
    f.src = "reload-sub.html?" + i;
    document.body.appendChild(f);
  }
})();
