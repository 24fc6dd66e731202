// The Window section: geometry buttons, a menu item added and hooked from
// the page, the open and save dialogs, and file operations on a scratch
// folder in the temporary folder.
(function () {
  if (typeof corvane === 'undefined' || !corvane.window) return;
  var win = corvane.window;
  var fill = showcaseFill;
  function el(id) { return document.getElementById(id); }
  function arg(o) { return JSON.stringify(o); }

  function showGeometry() {
    fill('winGeometry', [
      ['origin (lower left)', win.getOrigin()],
      ['size', win.getSize()],
      ['maximized', win.isMaximized()],
      ['minimum size', win.getMinSize()]
    ]);
  }
  showGeometry();
  window.addEventListener('resize', showGeometry);

  el('winLeft').addEventListener('click', function () {
    var o = JSON.parse(win.getOrigin());
    win.move(arg({ x: Math.max(0, o.x - 50), y: o.y }));
    showGeometry();
  });
  el('winBigger').addEventListener('click', function () {
    var s = JSON.parse(win.getSize());
    win.resize(arg({ width: s.width + 40, height: s.height + 30 }));
    showGeometry();
  });
  el('winMax').addEventListener('click', function () { win.maximize(); showGeometry(); });
  el('winMin').addEventListener('click', function () {
    win.minimize();
    setTimeout(function () { win.restore(); }, 3000);
  });
  el('winFull').addEventListener('click', function () { win.toggleFullscreen(); });

  var hellos = 0;
  window.showcaseSayHello = function () {
    hellos += 1;
    el('winMenuResult').textContent = 'Hello from the menu (' + hellos + ')';
  };
  window.showcaseMenuAdded = function () { el('winMenuResult').textContent = 'Added: open the File menu.'; };
  el('winMenu').addEventListener('click', function () {
    win.setMenuProperty(arg({ menuTag: 150, title: 'Say hello', action: 'showcaseSayHello',
      callback: 'showcaseMenuAdded' }));
  });

  function showRecords(r) {
    if (!r.success) { fill('winDialog', [['answer', 'cancelled']]); return; }
    var list = r.filesArray || [r];
    fill('winDialog', list.map(function (f) {
      return [f.fileName || f.filePath, f.filePath + (f.fileSizeStr ? ' (' + f.fileSizeStr + ')' : '')];
    }));
  }
  window.showcaseDialogAnswer = showRecords;
  el('winOpen').addEventListener('click', function () {
    win.openFile(arg({ title: 'Open files', allowMulSelection: true, types: ['png', 'jpg', 'txt'],
      enableFileFormatCombox: true, directory: corvane.path.homeDir(), callback: 'showcaseDialogAnswer' }));
  });
  el('winSave').addEventListener('click', function () {
    win.saveFile(arg({ title: 'Save a note', fileName: 'note', types: ['txt', 'md'],
      directory: corvane.path.tempDir(), callback: 'showcaseDialogAnswer' }));
  });

  var scratch = corvane.path.tempDir().replace(/\/$/, '') + '/corvane-showcase';
  var rows = [];
  function note(name) { return function (r) { rows.push([name, JSON.stringify(r)]); }; }
  ['made', 'empty', 'copied', 'moved', 'found', 'removed'].forEach(function (n) { window['showcase_' + n] = note(n); });
  el('winScratch').addEventListener('click', function () {
    rows = [];
    win.removeDir(arg({ path: scratch }));
    win.createDir(arg({ path: scratch + '/docs', callback: 'showcase_made' }));
    win.createEmptyFile(arg({ path: scratch + '/docs/readme.txt', callback: 'showcase_empty' }));
    win.copyDir(arg({ src: scratch + '/docs', dest: scratch + '/docs-copy', callback: 'showcase_copied' }));
    win.moveFile(arg({ src: scratch + '/docs-copy/readme.txt', dest: scratch + '/moved.txt',
      callback: 'showcase_moved' }));
    win.findFile(arg({ dir: scratch, fileName: 'read', callback: 'showcase_found' }));
    win.removeDir(arg({ path: scratch + '/docs-copy', callback: 'showcase_removed' }));
    fill('winFiles', rows);
  });
  window.showcaseRevealed = function (r) { fill('winFiles', [['reveal', JSON.stringify(r)]]); };
  el('winReveal').addEventListener('click', function () {
    win.revealInFinder(arg({ filePath: scratch, callback: 'showcaseRevealed' }));
  });
})();
