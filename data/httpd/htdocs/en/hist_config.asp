<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - Event log settings</title>
<link rel="stylesheet" href="/template.css">
<link rel="stylesheet" href="/ups.css">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>Event log settings</h1>
<form class="card" method="post" action="/orvik/hist_config" onsubmit="return confirm('Clear the whole event log?');">
<input type="hidden" name="SYS_UCTOKEN" value="<% SYS_UCTOKEN %>">
<table class="info">
<tr><td>Lines kept in the log</td><td id="max-events"><% HCG_MAX_EVENTNUM %></td></tr>
<tr><td>Data records kept</td><td><% HCG_MAX_DATANUM %></td></tr>
<tr><td>Automatic export interval</td><td><% HCG_AE_INTERVAL %></td></tr>
<tr><td>Automatic export folder</td><td><% HCG_AE_PATH %></td></tr>
</table>
<div class="buttons"><button type="submit" name="CLEAR_LOG" value="Clear" id="clear">Clear the event log</button></div>
</form>
</main>
</div>
<script src="/js/menu.js"></script>
</body>
</html>
