// Shows what a page can reach through the bridge: application facts,
// the well-known folders, and the path checks on a path of your choice.
(function () {
  var status = document.getElementById('status');
  if (typeof corvane === 'undefined') {
    status.textContent = 'No bridge on this page.';
    return;
  }
  var path = corvane.path;
  status.textContent = 'Bridge ready: corvane, quorlix and ZVRLabJs are ' +
    (corvane === quorlix && quorlix === ZVRLabJs ? 'one object.' : 'different objects!');

  var fill = showcaseFill;

  fill('facts', [
    ['name', path.applicationName()],
    ['bundle', path.application()],
    ['resources', path.resource()],
    ['web UI folder', path.appUIDirPath()],
    ['plug-ins', path.appPluginDirPath()],
    ['data home', path.appDataHomeDir()],
    ['user', path.userName() + ' (' + path.userFullName() + ')']
  ]);

  var folders = ['homeDir', 'documentsDir', 'desktopDir', 'downloadDir', 'picturesDir', 'musicDir',
    'moviesDir', 'libraryDir', 'cacheDir', 'tempDir', 'applicationDir', 'appWriteableDocumentDir'];
  fill('folders', folders.map(function (name) {
    var dir = path[name]();
    return [name, dir, path.pathIsExist(dir) ? 'exists' : 'absent'];
  }));

  var probe = document.getElementById('probe');
  function show() {
    var p = path.getUpdateEnvString(probe.value);
    fill('probeResult', [
      ['expanded', p],
      ['file name', path.getFileName(p)],
      ['without extension', path.getFileNameWithoutExt(p)],
      ['extension', path.getFileExt(p)],
      ['parent', path.getPathParentPath(p)],
      ['exists', path.pathIsExist(p)],
      ['is folder', path.checkPathIsDir(p)],
      ['a temp path like it', path.getNewTempFilePath(path.getFileName(p))]
    ]);
  }
  probe.addEventListener('input', show);
  show();
  document.addEventListener('orientationchange', function () {
    status.textContent = 'Bridge ready; window now ' + window.innerWidth + '×' + window.innerHeight + '.';
  });
})();
