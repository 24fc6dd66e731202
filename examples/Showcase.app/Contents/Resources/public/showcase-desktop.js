// Menus built from the page, the badge, notifications, an alert, sounds,
// the clipboard and a font browser.
(function () {
  if (typeof corvane === 'undefined' || !corvane.menu) return;
  function el(id) { return document.getElementById(id); }
  var fill = showcaseFill;

  // A top-level menu of our own, with keys, a separator and a submenu.
  var top = corvane.menu.getItem('Showcase') || corvane.menu.addItem('Showcase', '', null, 0);
  var menu = top.submenu();
  function chosen(title) { el('menuLog').textContent = '"' + title + '" chosen at ' + new Date().toLocaleTimeString(); }
  var hello = menu.addItem('Say hello', 'cmd+shift+h', chosen, 0);
  menu.addItem('Play a sound', 'ctrl+alt+p', function (title) { chosen(title); corvane.sound.playSystem('bell'); }, 0);
  menu.addSeparator();
  var more = menu.addItem('More', '', null, 0).addSubmenu();
  more.addItem('Deeper', '', chosen, 0);
  var added = [];
  el('menuAdd').addEventListener('click', function () {
    added.push(menu.addItem('Added ' + (added.length + 1), '', chosen, 0));
  });
  el('menuRemove').addEventListener('click', function () {
    var item = added.pop();
    if (item) item.remove();
  });
  el('menuEnabled').addEventListener('change', function (e) {
    if (e.target.checked) hello.enable(); else hello.disable();
  });

  // The badge counter.
  var count = 0;
  function showBadge() {
    corvane.dock.setBadge(count ? String(count) : '');
    el('badgeValue').textContent = corvane.dock.badge === null ? 'none' : corvane.dock.badge;
  }
  el('badgeUp').addEventListener('click', function () { count++; showBadge(); });
  el('badgeDown').addEventListener('click', function () { count = Math.max(0, count - 1); showBadge(); });
  el('badgeClear').addEventListener('click', function () { count = 0; showBadge(); });

  el('notifyGrowl').addEventListener('click', function () {
    corvane.growl.notify(JSON.stringify({ title: 'Showcase', content: 'Click me to come back here.' }));
  });
  el('notifyNotice').addEventListener('click', function () {
    if (!corvane.notice) { el('notifyResult').textContent = 'No notification service on this desktop.'; return; }
    var error = corvane.notice.notify(JSON.stringify({ title: 'Showcase', content: 'A notice from the page.' }));
    el('notifyResult').textContent = error ? 'Failed: ' + error : 'Sent.';
  });
  if (!corvane.notice) el('alertAsk').disabled = true;
  el('alertAsk').addEventListener('click', function () {
    var code = corvane.notice.alert(JSON.stringify({ title: 'Which one?', message: 'Pick any button.',
      buttons: ['First', 'Second', 'Third'], alertType: 'Information' }));
    el('alertResult').textContent = code === 1 ? 'First' : code === 0 ? 'Second' : 'Third (or no panel)';
  });

  el('soundPlay').addEventListener('click', function () {
    var started = Date.now();
    el('soundResult').textContent = 'playing…';
    corvane.sound.playSystemWithCB(el('soundName').value, function (name) {
      el('soundResult').textContent = name + ' ended after ' + (Date.now() - started) + ' ms';
    });
  });

  el('clipCopy').addEventListener('click', function () {
    corvane.clipboard.copy(el('clipText').value);
    el('clipResult').textContent = 'Copied.';
  });
  el('clipPaste').addEventListener('click', function () {
    el('clipResult').textContent = 'Clipboard: "' + corvane.clipboard.paste() + '"';
  });

  // The font browser.
  var families = corvane.fonts.availableFontFamilies();
  var select = el('fontFamily');
  families.forEach(function (f) {
    var o = document.createElement('option');
    o.textContent = f;
    select.appendChild(o);
  });
  function showFont() {
    var family = select.value, size = Number(el('fontSize').value) || 16;
    el('fontLineHeight').textContent = corvane.fonts.defaultLineHeightForFont(family, size).toFixed(1) + ' pt';
    el('fontSample').style.fontFamily = '"' + family + '"';
    el('fontSample').style.fontSize = size + 'pt';
    fill('fontMembers', [['PostScript name', 'style', 'weight', 'traits']].concat(
      corvane.fonts.availableMembersOfFontFamily(family).map(function (m) {
        return [m[0], m[1], m[2], '0x' + m[3].toString(16)];
      })));
  }
  select.addEventListener('change', showFont);
  el('fontSize').addEventListener('input', showFont);
  if (families.length) showFont();
})();
