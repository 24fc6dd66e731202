// The App section: what the application knows about itself, its language
// settings, the login item, and the hand-offs to the desktop.
(function () {
  if (typeof corvane === 'undefined' || !corvane.app) return;
  var app = corvane.app;

  function el(id) { return document.getElementById(id); }

  var fill = showcaseFill;

  function showFacts() {
    var ip = app.getLocalIP();
    fill('appFacts', [
      ['name', app.getAppName()],
      ['version', app.getAppVersion() + ' (build ' + app.getAppBuildVersion() + ')'],
      ['identifier', app.getAppIdentifier()],
      ['runs on', app.getAppRunOnOS()],
      ['arguments', JSON.stringify(app.getAppArgv())],
      ['sandboxed', app.getSandboxEnable()],
      ['local HTTP server port', app.getHttpServerPort() || 'not running'],
      ['in-app purchase', app.getIAPEnable() ? 'enabled' : 'disabled'],
      ['local address', ip || 'none'],
      ['idle for', app.systemIdleTime().toFixed(1) + ' s'],
      ['now', new Date(app.getNowTimeStamp() * 1000).toISOString()],
      ['size of the bundle', app.getFileSizeString1024(app.fileSizeAtPath(corvane.path.application())) +
        ' (' + app.getFileSizeString1000(app.diskSizeAtPath(corvane.path.application())) + ' on disk)']
    ]);
  }

  function showLanguages() {
    fill('appLanguages', [
      ['system languages', JSON.parse(app.curAppleSupportLanguagesJSONString()).join(', ')],
      ['first system language', app.curAppleLanguage()],
      ['page language', app.curUserLanguage()]
    ]);
  }

  el('appLanguageSet').addEventListener('click', function () {
    var wanted = el('appLanguage').value.trim();
    var ok = app.setUserLanguage(wanted);
    el('appLanguageResult').textContent = ok ? 'Stored.' : 'Not stored; the system language stands in.';
    showLanguages();
  });

  var login = el('appLogin');
  login.checked = app.isStartAtLogin();
  login.addEventListener('change', function () {
    app.setStartAtLogin(login.checked);
    login.checked = app.isStartAtLogin();
  });

  var links = el('appLinks');
  [['Home page', 'getHomePageURL'], ['Documentation', 'getDocumentPageURL'], ['FAQ', 'getFAQURL'],
    ['Release notes', 'getReleaseNotesPageURL'], ['Report an issue', 'getReportIssuePageURL'],
    ['Buy', 'getBuyURL']].forEach(function (pair) {
    var url = app[pair[1]]();
    if (!url) return;
    var button = document.createElement('button');
    button.textContent = pair[0];
    button.title = url;
    button.addEventListener('click', function () { app.open(url); });
    links.appendChild(button);
  });
  if (!links.firstChild) links.textContent = 'The configuration names no web addresses.';

  el('appMd5').addEventListener('input', function () {
    el('appMd5Result').textContent = app.md5Digest(el('appMd5').value);
  });
  el('appMd5Result').textContent = app.md5Digest(el('appMd5').value);

  el('appMail').addEventListener('click', function () {
    app.sendEmailWithMail(JSON.stringify({ toAddress: '', subject: 'Hello from ' + app.getAppName(),
      body: 'Sent from the Showcase.' }));
  });
  el('appBeep').addEventListener('click', function () { app.beep(); });
  el('appBounce').addEventListener('click', function () { app.bounce(); });
  el('appHide').addEventListener('click', function () {
    app.hide();
    setTimeout(function () { app.activate(); }, 3000);
  });

  var events = el('appEvents');
  function note(text) {
    var li = document.createElement('li');
    li.textContent = new Date().toLocaleTimeString() + ' ' + text;
    events.insertBefore(li, events.firstChild);
    while (events.childNodes.length > 8) events.removeChild(events.lastChild);
  }
  document.addEventListener('appActivated', function (e) {
    note('active: ' + e.data.localizedName + ' (' + e.data.bundleURL + ')');
    showFacts();
  });
  document.addEventListener('sleep', function () { note('the machine goes to sleep'); });
  document.addEventListener('wake', function () { note('the machine woke up'); });

  showFacts();
  showLanguages();
})();
