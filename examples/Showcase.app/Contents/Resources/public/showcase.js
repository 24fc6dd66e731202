// Shows what a page can reach through the bridge.
(function () {
  var status = document.getElementById('status');
  if (typeof corvane === 'undefined') {
    status.textContent = 'No bridge on this page.';
    return;
  }
  status.textContent = 'Bridge ready.';
})();
