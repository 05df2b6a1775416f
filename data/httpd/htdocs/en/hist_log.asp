<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - Event history</title>
<link rel="stylesheet" href="/template.css">
<link rel="stylesheet" href="/ups.css">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>Event history</h1>
<form class="card" method="post" action="/orvik/hist_log" id="history">
<h2>Showing <span id="view"><% LOG_PAGE %></span></h2>
<div class="row"><label><input type="radio" name="LOG_MODE" id="by-page" value="page" <% LOG_ISPAGE %>> By page</label>
<div class="pager" id="pager"><input type="submit" name="LOG_BUTTON" value="&lt;&lt;"> <% LOG_BUTTON %> <input type="submit" name="LOG_BUTTON" value="&gt;&gt;"></div></div>
<div class="row"><label><input type="radio" name="LOG_MODE" id="by-date" value="date" <% LOG_ISDATE %>> By date</label>
<div><input type="text" name="LOG_FROM" id="from" value="<% LOG_FROM %>" maxlength="10" style="max-width:130px"> to
<input type="text" name="LOG_TO" id="to" value="<% LOG_TO %>" maxlength="10" style="max-width:130px">
<button type="submit" name="BUT_APPLY" value="Apply" id="apply">Apply</button> <span class="muted">(month/day/year)</span></div></div>
<div class="row"><label>Levels shown</label>
<div id="levels"><label><input type="checkbox" name="LOG_SELID0" id="sel0"> System</label>
<label><input type="checkbox" name="LOG_SELID1" id="sel1"> Information</label>
<label><input type="checkbox" name="LOG_SELID2" id="sel2"> Warning</label>
<label><input type="checkbox" name="LOG_SELID3" id="sel3"> Severity</label>
<button type="submit" class="secondary" name="LOG_FILTER" value="1">Remember</button></div></div>
<div class="buttons"><button type="submit" name="DLLOG_BUTTON" value="Export" id="export">Export the log as CSV</button>
<a class="button" id="download" href="/tmp/event_log.csv" download="event_log.csv" hidden>Download event_log.csv</a></div>
</form>
<div class="card"><iframe class="log" id="log" src="/tmp/iframe_log.htm" title="Event log"></iframe></div>
</main>
</div>
<script src="/js/menu.js"></script>
<script>
(function () {
  // Level marks of the session: character n is mark n; no mark at all shows every level.
  var marks = "<% LOG_SELECTID %>", any = marks.indexOf("1") >= 0;
  var classes = ["bold", "normal", "warning", "critical"];
  for (var i = 0; i < 4; i++) document.getElementById("sel" + i).checked = any && marks.charAt(i) === "1";
  var frame = document.getElementById("log");
  frame.addEventListener("load", function () {
    if (!any) return;
    var rows = frame.contentDocument ? frame.contentDocument.getElementsByTagName("tr") : [];
    for (var r = 1; r < rows.length; r++) {
      var cell = rows[r].cells[3], level = cell ? classes.indexOf(cell.className) : -1;
      if (level >= 0 && marks.charAt(level) !== "1") rows[r].style.display = "none";
    }
  });
  // After an export the page offers the file.
  if (Number("<% NOT_DELAY %>") === 3) document.getElementById("download").hidden = false;
})();
</script>
</body>
</html>
