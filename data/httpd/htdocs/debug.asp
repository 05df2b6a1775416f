<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - Debug</title>
<link rel="stylesheet" href="/template.css">
<link rel="stylesheet" href="/ups.css">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>Debug</h1>
<form class="card" method="post" action="/orvik/debug" id="debug">
<h2>Link counters</h2>
<table class="info">
<tr><td>Sent</td><td><% DBG_TX_OK %></td></tr>
<tr><td>Send errors</td><td><% DBG_TX_ERR %></td></tr>
<tr><td>Received</td><td><% DBG_RX_OK %></td></tr>
<tr><td>Receive time-outs</td><td><% DBG_RX_TIMEOUT %></td></tr>
<tr><td>Checksum errors</td><td><% DBG_RX_CSERR %></td></tr>
<tr><td>Overflows</td><td><% DBG_RX_OVERFLOW %></td></tr>
<tr><td>Parse errors</td><td><% DBG_RX_PARSEERR %></td></tr>
<tr><td>Operating system version</td><td><% DBG_VER_OS %></td></tr>
<tr><td>Network card version</td><td><% DBG_VER_NMC %></td></tr>
<tr><td>UPS version</td><td><% DBG_VER_UPS %></td></tr>
<tr><td>Port log</td><td><% DBG_COM_LOG %></td></tr>
<tr><td>Port log file</td><td><% DBG_COM_FILE %></td></tr>
</table>
<p>This service keeps no link counters; the fields stay empty.</p>
<div class="buttons"><button type="submit" name="DBG_REFRESH" value="Refresh" id="refresh">Refresh</button>
<button type="submit" class="secondary" name="DBG_CLEAR" value="Clear" id="dbg-clear">Clear</button>
<button type="submit" class="secondary" name="DBG_HOME" value="Home" id="home">Home</button></div>
</form>
</main>
</div>
<script src="/js/menu.js"></script>
</body>
</html>
