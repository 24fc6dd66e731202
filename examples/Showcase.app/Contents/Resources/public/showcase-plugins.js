// Plug-ins: the sample bundle plug-in and the shell's built-in "EchoTask".
// Every message the page gets is listed, and also written to the console
// (the shell's log), where the demo's test looks for it.
(function () {
  if (typeof corvane === 'undefined') return;
  var W = corvane.window;
  var list = document.getElementById('pluginLog');

  function note(text) {
    var li = document.createElement('li');
    li.textContent = text;
    list.appendChild(li);
    console.log('Showcase plug-in: ' + text);
  }
  // Page functions the plug-ins call back, by name.
  window.showcasePluginMessage = function (m) {
    if (m && m.progress) note('progress ' + m.progress + ' of ' + m.of);
    else if (m && m.done) note('done: ' + m.greeting + ' (configured by ' + m.setterCalls + ' calls, at ' + m.bundlePath + ')');
    else note('message ' + JSON.stringify(m));
  };
  window.showcasePluginAnswer = function (r) {
    note(r.success ? 'started' : 'could not run: ' + r.error);
  };

  function runSample(method, args) {
    W.execTask(JSON.stringify({
      useThread: true, taskToolPath: '/PlugIns/Sample.bundle', bundleClassName: 'SamplePlugin',
      passBack: 'showcasePluginMessage', callback: 'showcasePluginAnswer', callMethod: method || '',
      arguments: args || { from: 'Showcase' }
    }));
  }

  document.getElementById('pluginRun').addEventListener('click', function () { runSample(); });
  document.getElementById('pluginHello').addEventListener('click', function () { runSample('hello', ['hi']); });
  document.getElementById('pluginEcho').addEventListener('click', function () {
    W.execBuildInTask(JSON.stringify({
      useThread: true, className: 'EchoTask', callMethod: 'echo', passBack: 'showcasePluginMessage',
      callback: 'showcasePluginAnswer', arguments: { at: new Date().toISOString() }
    }));
  });
  document.getElementById('pluginMissing').addEventListener('click', function () {
    W.execTask(JSON.stringify({
      useThread: true, taskToolPath: '/PlugIns/NotThere.bundle', callback: 'showcasePluginAnswer'
    }));
  });
  runSample();
})();
