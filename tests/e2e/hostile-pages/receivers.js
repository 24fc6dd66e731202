// Every method (and field) of every bridge class called on receivers that
// are not its own objects. None may reach native code: each call must throw
// a TypeError. `other` is a bridge root of another window, whose objects are
// of the same classes but not this page's.
function checkReceivers(other) {
  var root = window.corvane;
  var members = Object.keys(root);
  var objects = [root].concat(members.map(function (m) { return root[m]; }));
  var out = { calls: 0, typeErrors: 0, ran: [], wrong: [], methods: 0 };
  function record(label, fn, receiver) {
    out.calls++;
    try {
      fn.call(receiver, '{"callback":"receiverLeak"}', 1);
      out.ran.push(label);
    } catch (e) {
      if (e.name === "TypeError") out.typeErrors++; else out.wrong.push(label + ": " + e.name + " " + e.message);
    }
  }
  objects.forEach(function (own, index) {
    var proto = Object.getPrototypeOf(own);
    var cls = index === 0 ? "root" : members[index - 1];
    var names = Object.getOwnPropertyNames(proto).filter(function (n) { return n !== "constructor" && n !== "toJSON"; });
    names.forEach(function (n) {
      var d = Object.getOwnPropertyDescriptor(proto, n);
      var fn = typeof d.value === "function" ? d.value : d.get;
      if (typeof fn !== "function") return;
      out.methods++;
      var foreign = objects.filter(function (o) { return o !== own; });
      foreign = foreign.concat([{}, Object.create(proto), undefined, null, 42, "text", function () {}]);
      if (other) foreign.push(index === 0 ? other : other[members[index - 1]]);
      foreign.forEach(function (r, i) { record(cls + "." + n + "#" + i, fn, r); });
    });
  });
  // The same methods on their own objects still work.
  out.ownStillWorks = root.path.getFileExt.call(root.path, "a.b") === "b" && typeof root.app.getAppName() === "string";
  function outcome(f) {
    try { f(); return "ran"; } catch (e) { return e.name + ": " + e.message; }
  }
  var P = Object.getPrototypeOf;
  out.samples = {
    pathAsApp: outcome(function () { corvane.app.getAppName.call(corvane.path); }),
    appAsPath: outcome(function () { corvane.path.application.call(corvane.app); }),
    plainObject: outcome(function () { corvane.app.getAppName.call({}); }),
    otherWindow: other ? outcome(function () { corvane.app.getAppName.call(other.app); }) : null,
    rootField: outcome(function () { Object.getOwnPropertyDescriptor(P(corvane), "mainMenu").get.call(corvane.path); })
  };
  return out;
}

// Bridge objects serialise as ordinary objects, yet keep their identity when
// they travel inside arrays and objects.
function checkSerialisation() {
  var T = corvane.test;
  var echoed = T.echo({ p: [corvane.path, corvane.test], plain: { k: 1 } });
  return {
    path: JSON.stringify(corvane.path),
    root: JSON.parse(JSON.stringify(corvane)),
    inArray: JSON.stringify([corvane.app]),
    keys: Object.keys(corvane.path).length,
    toJSONEnumerable: Object.prototype.propertyIsEnumerable.call(Object.getPrototypeOf(corvane.path), "toJSON"),
    identity: echoed.p[0] === corvane.path && echoed.p[1] === corvane.test && echoed.plain.k === 1,
    direct: T.echo(corvane.app) === corvane.app
  };
}
