// Store and tray: the sample purchase helper as a local store (products,
// prices, buying, restoring, use counts), and an icon in the panel's tray
// whose menu buys coins. Store notifications and tray events are listed,
// and written to the console (the shell's log), where the demo's test looks
// for them.
(function () {
  if (typeof corvane === 'undefined' || !corvane.iap) return;
  var iap = corvane.iap, tray = corvane.tray;
  var list = document.getElementById('storeLog');
  var COINS = 'com.corvane.showcase.coins';
  var next = 0;

  function note(text) {
    var li = document.createElement('li');
    li.textContent = text;
    list.insertBefore(li, list.firstChild);
    console.log('Showcase store: ' + text);
  }
  // A request answered through a page function of its own.
  function ask(method, params, then) {
    var name = 'showcaseStoreAnswer' + (++next);
    window[name] = function (r) {
      delete window[name];
      if (!r.success) note(method + ' failed: ' + r.error);
      else if (then) then(r);
    };
    params.callback = name;
    iap[method](JSON.stringify(params));
  }
  function showCoins() {
    ask('getUseCount', { productId: COINS }, function (r) {
      document.getElementById('storeResult').textContent = r.useCount + ' coins';
    });
  }
  function buy(productId) {
    ask('buy', { productId: productId }, function () { showCoins(); });
  }

  window.showcaseStoreNotice = function (n) {
    note(n.type + (n.productId ? ' ' + n.productId : '') + (n.count !== undefined ? ' (' + n.count + ')' : ''));
  };
  iap.registerCallback(JSON.stringify({ callback: 'showcaseStoreNotice' }));
  ask('registerHelper', { path: '/PlugIns/SampleStore.bundle' }, function () {
    ask('startService', {}, function () {
      ask('requestProducts', {}, function (r) {
        var table = document.getElementById('storeProducts');
        table.textContent = '';
        r.products.forEach(function (p) {
          var tr = document.createElement('tr');
          [p.title, p.description, p.formattedPrice].forEach(function (text) {
            var td = document.createElement('td');
            td.textContent = text;
            tr.appendChild(td);
          });
          var button = document.createElement('button');
          button.textContent = 'Buy';
          button.addEventListener('click', function () { buy(p.productId); });
          tr.appendChild(button);
          table.appendChild(tr);
        });
        note(r.products.length + ' products, payments ' + (iap.canMakePayments() ? 'possible' : 'impossible'));
        showCoins();
      });
    });
  });
  document.getElementById('storeRestore').addEventListener('click', function () { ask('restore', {}); });
  document.getElementById('storeUse').addEventListener('click', function () {
    ask('useProduct', { productId: COINS }, function () { showCoins(); });
  });

  // The tray icon: a left click brings the window forward, its menu buys.
  var menu = tray.menu();
  menu.addItem('Show the Showcase', '', function () { corvane.app.activate(); }, 0);
  menu.addItem('Buy 100 coins', '', function () { buy(COINS); }, 0);
  menu.addSeparator();
  menu.addItem('Hide this icon', '', function () { document.getElementById('trayShow').click(); }, 0);
  tray.setIcon('emblem-favorite');
  tray.setToolTip('Corvane Showcase');
  tray.setCallback(function (e) {
    if (e.type === 'activate') corvane.app.activate();
    note('tray ' + e.type + (e.title ? ' ' + e.title : '') + (e.delta ? ' ' + e.delta : ''));
  });
  document.getElementById('trayShow').addEventListener('change', function (e) {
    if (e.target.checked) tray.show(); else tray.hide();
    document.getElementById('trayState').textContent = !e.target.checked ? ''
      : tray.isAvailable() ? 'shown' : 'this desktop shows no tray icons now; it appears when a panel starts';
  });
})();
