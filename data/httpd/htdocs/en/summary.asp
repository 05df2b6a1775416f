<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - UPS summary</title>
<link rel="stylesheet" href="/template.css">
<link rel="stylesheet" href="/ups.css">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>UPS summary</h1>
<div class="card"><h2>This computer</h2>
<table class="info">
<tr><td>Host name</td><td id="host"><% SUM_HOST_NAME %></td></tr>
<tr><td>Operating system</td><td id="os"><% SUM_OS_DESC %></td></tr>
<tr><td>Trap port</td><td id="trap-port"><% SUM_TRAP_PORT %></td></tr>
<tr><td>Action when a countdown ends</td><td id="shut-type" data-type="<% SUM_SHUT_TYPE %>"></td></tr>
</table></div>
<div class="card"><h2>Shutdown countdown</h2>
<div class="countdown" id="countdown" data-left="<% SUM_OS_COUNTDOWN %>" data-cancel="<% SUM_OS_CANCEL %>">-</div>
<p id="countdown-note"></p>
</div>
<div class="card"><h2>Trap sources (<span id="source-num"><% SUM_SOURCE_NUM %></span>)</h2>
<table class="list" id="sources"><thead><tr><th>IP address</th><th>Community</th><th>Status</th><th>Active alarms</th></tr></thead><tbody></tbody></table>
<template id="source-blocks"><% SUM_SOURCE_LIST %></template>
</div>
<div class="card"><h2>Newest events (<span id="slog-num"><% SUM_SLOG_NUM %></span>)</h2>
<table class="list" id="events"><thead><tr><th>Source</th><th>Level</th><th>Time</th><th>Event</th></tr></thead><tbody></tbody></table>
<template id="event-blocks"><% SUM_SLOG_LIST %></template>
</div>
</main>
</div>
<script src="/js/menu.js"></script>
<script>
(function () {
  var levels = ["System", "Information", "Warning", "Severity"];
  var types = ["Shut down", "Power off", "Hibernate", "Nothing"];
  function text(node, tag) { var e = node.getElementsByTagName(tag)[0]; return e ? e.textContent : ""; }
  function cell(row, value, cls) { var td = row.insertCell(-1); td.textContent = value; if (cls) td.className = cls; return td; }
  function badge(row, level, label) {
    var span = document.createElement("span");
    span.className = "badge level" + level;
    span.textContent = label;
    row.insertCell(-1).appendChild(span);
  }
  // Blocks come as a flat run of tags; every IP tag starts a new row.
  function blocks(root, first) {
    var out = [], current = null;
    for (var n = root.firstChild; n; n = n.nextSibling) {
      if (n.nodeType !== 1) continue;
      if (n.nodeName.toUpperCase() === first) { current = {}; out.push(current); }
      if (current) current[n.nodeName.toUpperCase()] = n.textContent;
    }
    return out;
  }
  function show(doc) {
    var get = function (tag) { return text(doc, tag); };
    document.getElementById("host").textContent = get("SUM_HOST_NAME");
    document.getElementById("os").textContent = get("SUM_OS_DESC");
    document.getElementById("trap-port").textContent = get("SUM_TRAP_PORT");
    var type = Number(get("SUM_SHUT_TYPE"));
    document.getElementById("shut-type").textContent = types[type] || String(type);
    var left = Number(get("SUM_OS_COUNTDOWN")), cancelled = get("SUM_OS_CANCEL") === "1";
    var cd = document.getElementById("countdown"), note = document.getElementById("countdown-note");
    if (left < 0) { cd.textContent = "No countdown"; note.textContent = ""; }
    else {
      var h = Math.floor(left / 3600), m = Math.floor(left / 60) % 60, s = left % 60;
      cd.textContent = (h ? h + ":" : "") + (m < 10 ? "0" : "") + m + ":" + (s < 10 ? "0" : "") + s;
      note.textContent = cancelled ? "The shutdown is cancelled." : "The configured action runs when the countdown ends.";
    }
    document.getElementById("source-num").textContent = get("SUM_SOURCE_NUM");
    var tbody = document.querySelector("#sources tbody");
    tbody.innerHTML = "";
    blocks(doc.getElementsByTagName("sources")[0] || doc, "SUM_SOURCE_IP").forEach(function (b) {
      var row = tbody.insertRow(-1);
      cell(row, b.SUM_SOURCE_IP);
      cell(row, b.SUM_SOURCE_COMM);
      var level = Number(b.SUM_SOURCE_STS);
      badge(row, level, level ? levels[level] || "Alarm" : "Normal");
      cell(row, b.SUM_SOURCE_EVT === "-1" ? "None" : b.SUM_SOURCE_EVT);
    });
    document.getElementById("slog-num").textContent = get("SUM_SLOG_NUM");
    var ebody = document.querySelector("#events tbody");
    ebody.innerHTML = "";
    blocks(doc.getElementsByTagName("events")[0] || doc, "SUM_SLOG_IP").forEach(function (b) {
      var row = ebody.insertRow(-1);
      cell(row, b.SUM_SLOG_IP);
      var level = Number(b.SUM_SLOG_LEVEL);
      badge(row, level, levels[level] || "System");
      cell(row, b.SUM_SLOG_TIME);
      cell(row, b.SUM_SLOG_EVENT);
    });
  }
  // First view from the page itself, then every few seconds from summary.xml.
  function fromPage() {
    var doc = document.implementation.createDocument(null, "summary", null), root = doc.documentElement;
    function add(tag, value) { var e = doc.createElement(tag); e.textContent = value; root.appendChild(e); }
    add("SUM_HOST_NAME", document.getElementById("host").textContent);
    add("SUM_OS_DESC", document.getElementById("os").textContent);
    add("SUM_TRAP_PORT", document.getElementById("trap-port").textContent);
    add("SUM_SHUT_TYPE", document.getElementById("shut-type").getAttribute("data-type"));
    add("SUM_OS_COUNTDOWN", document.getElementById("countdown").getAttribute("data-left"));
    add("SUM_OS_CANCEL", document.getElementById("countdown").getAttribute("data-cancel"));
    add("SUM_SOURCE_NUM", document.getElementById("source-num").textContent);
    add("SUM_SLOG_NUM", document.getElementById("slog-num").textContent);
    var parser = new DOMParser();
    ["sources", "events"].forEach(function (name) {
      var html = document.getElementById(name === "sources" ? "source-blocks" : "event-blocks").innerHTML;
      var part = parser.parseFromString("<" + name + ">" + html + "</" + name + ">", "application/xml");
      root.appendChild(doc.importNode(part.documentElement, true));
    });
    return doc;
  }
  show(fromPage());
  function poll() {
    var x = new XMLHttpRequest();
    x.open("GET", "/en/summary.xml?t=" + Date.now());
    x.onload = function () { if (x.status === 200 && x.responseXML && x.responseXML.getElementsByTagName("summary").length) show(x.responseXML); };
    x.send();
  }
  setInterval(poll, 3000);
})();
</script>
</body>
</html>
