// Drops, a change watcher, capture and print to PDF, info files and the
// user defaults, another application's facts, and the file writer, all on a
// scratch folder in the temporary folder.
(function () {
  if (typeof corvane === 'undefined' || !corvane.window || !corvane.binaryFileWriter) return;
  var win = corvane.window, writer = corvane.binaryFileWriter;
  var fill = showcaseFill;
  function el(id) { return document.getElementById(id); }
  function arg(o) { return JSON.stringify(o); }
  var scratch = corvane.path.tempDir().replace(/\/$/, '') + '/corvane-showcase';

  // ---- drops, and files opened from the desktop (the same callback) ----
  window.showcaseDropped = function (r) {
    console.log('Showcase received: ' + r.filesArray.map(function (f) { return f.filePath; }).join(', '));
    fill('dropResult', r.filesArray.map(function (f) {
      return [f.fileName, (f.isDir ? 'folder ' : 'file ') + f.fileSizeStr, f.filePath];
    }));
  };
  function dropSettings() {
    var types = el('dropTypes').value.split(',').map(function (t) { return t.trim(); });
    win.setDragDropConfig(arg({ enableFile: el('dropFiles').checked, enableDir: el('dropDirs').checked,
      fileTypes: types, enableCalculateFolderSize: el('dropSizes').checked, callback: 'showcaseDropped' }));
  }
  ['dropFiles', 'dropDirs', 'dropTypes', 'dropSizes'].forEach(function (id) { el(id).addEventListener('change', dropSettings); });
  dropSettings();

  // ---- a watcher ----
  var notes = scratch + '/notes.txt';
  window.showcaseWatched = function (e) {
    var li = document.createElement('li');
    li.textContent = new Date().toLocaleTimeString() + ' ' + e.flag + ' ' + e.path;
    el('watchEvents').appendChild(li);
  };
  var notesSize = 0;
  window.showcaseNotesWritten = function (r) { if (r.success) notesSize += r.bytesWritten; };
  el('watchStart').addEventListener('click', function () {
    notesSize = 0;
    writer.writeTextToFile(arg({ filePath: notes, text: 'notes\n', dataAppend: false, callback: 'showcaseNotesWritten' }));
    win.createFileChangeWatcher(arg({ path: notes, callback: 'showcaseWatched' }));
  });
  el('watchTouch').addEventListener('click', function () {
    writer.writeTextToFile(arg({ filePath: notes, text: 'more ' + Date.now() + '\n', offset: notesSize,
      callback: 'showcaseNotesWritten' }));
  });
  el('watchStop').addEventListener('click', function () { win.removeFromChangeWatcher(arg({ path: notes })); });

  // ---- capture and print ----
  window.showcaseShot = function (r) { el('shotResult').textContent = r.success ? 'saved ' + scratch + '/screen.png' : r.error; };
  window.showcasePdf = function (r) { el('shotResult').textContent = r.success ? 'saved ' + scratch + '/page.pdf' : r.error; };
  el('shotTake').addEventListener('click', function () { win.capture(arg({ filePath: scratch + '/screen.png', callback: 'showcaseShot' })); });
  el('pdfMake').addEventListener('click', function () { win.printToPDF(arg({ filePath: scratch + '/page.pdf', callback: 'showcasePdf' })); });
  el('printShow').addEventListener('click', function () { win.print(arg({})); });

  // ---- info files and defaults ----
  var info = scratch + '/showcase-info.plist';
  var rows = {};
  function keep(name) { return function (r) { rows[name] = r; }; }
  window.showcaseInfo = keep('info file');
  window.showcaseDefaults = keep('defaults');
  el('infoSave').addEventListener('click', function () {
    var text = el('infoText').value;
    win.saveAppInfoToLocal(arg({ filePath: info, appInfo: { text: text, at: Date.now() }, callback: 'showcaseInfo' }));
    win.setInfoToUserDefaults(arg({ key: 'showcase.text', value: text, callback: 'showcaseDefaults' }));
    fill('infoResult', Object.keys(rows).map(function (k) { return [k, JSON.stringify(rows[k])]; }));
  });
  el('infoLoad').addEventListener('click', function () {
    rows = {};
    win.getAppInfoFromLocal(arg({ filePath: info, callback: 'showcaseInfo' }));
    win.getInfoFromUserDefaults(arg({ key: 'showcase.text', callback: 'showcaseDefaults' }));
    fill('infoResult', Object.keys(rows).map(function (k) { return [k, JSON.stringify(rows[k])]; }));
  });
  el('otherAsk').addEventListener('click', function () {
    var r = JSON.parse(win.getOtherAppInfo(arg({ path: el('otherPath').value })));
    fill('otherResult', r.success ? Object.keys(r.info).map(function (k) { return [k, r.info[k]]; })
                                  : [['answer', r.error || 'nothing there']]);
  });

  // ---- the file writer ----
  var results = [];
  function show(label) { return function (r) { results.push([label, JSON.stringify(r)]); fill('writerResult', results); }; }
  el('writerChunks').addEventListener('click', function () {
    results = [];
    var chunk = [];
    for (var i = 0; i < 65536; ++i) chunk.push(i & 255);
    var written = 0;
    window.showcaseChunk = function (r) { if (r.success) written += r.bytesWritten; };
    for (var c = 0; c < 16; ++c)
      writer.writeBinaryArray(arg({ filePath: scratch + '/chunks.bin', data: chunk, offset: written, callback: 'showcaseChunk' }));
    show('1 MiB in chunks')({ bytes: written, file: scratch + '/chunks.bin' });
  });
  el('writerImage').addEventListener('click', function () {
    results = [];
    var c = document.createElement('canvas');
    c.width = 120; c.height = 80;
    var g = c.getContext('2d');
    g.fillStyle = '#2a6'; g.fillRect(0, 0, 120, 80);
    g.fillStyle = '#fff'; g.font = '20px sans-serif'; g.fillText('Corvane', 18, 48);
    var png = c.toDataURL('image/png').split(',')[1];
    [['gif', 'drawing.gif'], ['jpeg', 'drawing.jp2'], ['pdf', 'drawing.pdf']].forEach(function (t) {
      window['showcaseImage_' + t[0]] = show(t[1]);
      writer.base64ToImageFile(arg({ filePath: scratch + '/' + t[1], base64String: png, imageType: t[0],
        callback: 'showcaseImage_' + t[0] }));
    });
  });
  el('writerText').addEventListener('click', function () {
    results = [];
    window.showcaseCp = show('written');
    window.showcaseText = show('read back');
    // "€ café" in Windows-1252, as bytes.
    writer.writeBinaryArray(arg({ filePath: scratch + '/cp1252.txt', data: [0x80, 0x20, 0x63, 0x61, 0x66, 0xE9],
      dataAppend: false, callback: 'showcaseCp' }));
    writer.getTextFromFile(arg({ filePath: scratch + '/cp1252.txt', encode: 'windowscp1252', callback: 'showcaseText' }));
  });
})();
