// Shared by the Showcase sections: fills a table with rows of cells.
function showcaseFill(id, rows) {
  var table = document.getElementById(id);
  table.textContent = '';
  rows.forEach(function (row) {
    var tr = document.createElement('tr');
    row.forEach(function (cell) {
      var td = document.createElement('td');
      td.textContent = String(cell);
      tr.appendChild(td);
    });
    table.appendChild(tr);
  });
}
