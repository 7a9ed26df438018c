#include "web/web_assets.h"

namespace orvane {

const char* const kWebIndexHtml = R"html(<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Orvane</title>
<link rel="stylesheet" href="/style.css">
<script src="/app.js" defer></script>
</head>
<body>
<header>
<h1>Orvane</h1>
<span id="service"></span>
</header>
<p id="note" hidden></p>
<div id="bar">
<span class="count"><span id="success-label"></span> <b id="success">0</b></span>
<span class="count"><span id="fail-label"></span> <b id="fail">0</b></span>
<input id="filter" type="search" autocomplete="off">
<span id="shown"></span>
</div>
<p id="record" hidden></p>
<p id="trust" hidden></p>
<table id="devices">
<thead><tr id="head"></tr></thead>
<tbody id="rows"></tbody>
</table>
<p id="error" hidden></p>
</body>
</html>
)html";

// Every text from the server lands in textContent or a property: nothing a device sent is
// ever parsed as markup.
const char* const kWebAppJs = R"js('use strict';
(function () {
  const POLL_MS = 1000;
  const COLUMNS = ['id', 'model', 'ip', 'status', 'schedule', 'before', 'after'];
  let shownVersion = -1;
  let latest = null;

  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) { e.className = cls; }
    if (text !== undefined) { e.textContent = text; }
    return e;
  }

  function setLabels(data) {
    document.documentElement.lang = data.lang;
    const head = document.getElementById('head');
    if (head.childElementCount === 0) {
      data.labels.columns.forEach(function (label) { head.appendChild(el('th', '', label)); });
    }
    document.getElementById('success-label').textContent = data.labels.successes;
    document.getElementById('fail-label').textContent = data.labels.failures;
    document.getElementById('filter').placeholder = data.labels.filter;
    document.getElementById('service').textContent =
      data.running ? data.labels.running : data.labels.stopped;
    document.getElementById('service').className = data.running ? 'running' : 'stopped';
    const note = document.getElementById('note');
    note.textContent = data.note;
    note.hidden = data.note === '';
    note.className = data.halted ? 'halted' : '';
  }

  function makeRow(row) {
    const tr = el('tr', row.result || 'busy');
    COLUMNS.forEach(function (key) {
      const td = el('td', 'c-' + key);
      if (key === 'schedule') {
        const bar = el('progress');
        bar.max = 100;
        const value = parseInt(row.schedule, 10);
        bar.value = isNaN(value) ? 0 : Math.max(0, Math.min(100, value));
        td.appendChild(bar);
        td.appendChild(el('span', 'pct', row.schedule));
      } else {
        td.textContent = row[key];
      }
      tr.appendChild(td);
    });
    tr.dataset.search = COLUMNS.map(function (k) { return row[k]; }).join('\n').toLowerCase();
    return tr;
  }

  function applyFilter() {
    const needle = document.getElementById('filter').value.trim().toLowerCase();
    const rows = document.getElementById('rows').children;
    let shown = 0;
    for (let i = 0; i < rows.length; i++) {
      const match = needle === '' || rows[i].dataset.search.indexOf(needle) >= 0;
      rows[i].hidden = !match;
      if (match) { shown++; }
    }
    document.getElementById('shown').textContent =
      needle === '' ? '' : shown + ' / ' + rows.length;
  }

  function render(data) {
    setLabels(data);
    document.getElementById('success').textContent = String(data.successes);
    document.getElementById('fail').textContent = String(data.failures);
    const record = document.getElementById('record');
    record.hidden = !data.recordFailing;
    record.textContent = data.recordFailing ? data.labels.recordFailing : '';
    const trust = document.getElementById('trust');
    trust.hidden = !data.signedList;
    trust.textContent = data.signedList || '';
    const body = document.createElement('tbody');
    body.id = 'rows';
    data.rows.forEach(function (row) { body.appendChild(makeRow(row)); });
    document.getElementById('rows').replaceWith(body);
    applyFilter();
    document.body.dataset.version = String(data.version);
  }

  function poll() {
    fetch('/api/devices', { cache: 'no-cache' })
      .then(function (r) {
        if (!r.ok) { throw new Error('HTTP ' + r.status); }
        return r.json();
      })
      .then(function (data) {
        document.getElementById('error').hidden = true;
        latest = data;
        if (data.version !== shownVersion) {
          shownVersion = data.version;
          render(data);
        }
      })
      .catch(function (e) {
        const box = document.getElementById('error');
        box.textContent = String(e);
        box.hidden = false;
      })
      .finally(function () { setTimeout(poll, POLL_MS); });
  }

  document.getElementById('filter').addEventListener('input', function () {
    if (latest) { applyFilter(); }
  });
  poll();
})();
)js";

const char* const kWebStyleCss =
    R"css(body { font: 14px "Liberation Sans", Arial, sans-serif; margin: 1em; color: #222; }
header { display: flex; align-items: baseline; gap: 1em; }
h1 { font-size: 1.4em; margin: 0 0 .5em 0; }
#service.running { color: #176b2c; }
#service.stopped { color: #a11; }
#bar { display: flex; align-items: center; gap: 1.5em; margin-bottom: .6em; }
#filter { width: 18em; padding: .2em .4em; }
table { border-collapse: collapse; width: 100%; }
th, td { border: 1px solid #ccc; padding: .25em .5em; text-align: left; white-space: pre; }
th { background: #eee; }
tr.success td { background: #e3f6e5; }
tr.failure td { background: #fbe2e2; }
tr.busy td { background: #fff; }
progress { width: 7em; vertical-align: middle; margin-right: .4em; }
#error, #record { color: #a11; }
#note { margin: 0 0 .6em 0; padding: .3em .6em; background: #eef; }
#note.halted { background: #a11; color: #fff; font-weight: bold; font-size: 1.2em; }
)css";

}  // namespace orvane
