<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - Device commands</title>
<link rel="stylesheet" href="/template.css">
<link rel="stylesheet" href="/ups.css">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>Device commands</h1>
<form class="card" method="post" action="/orvik/dev_control" id="commands">
<input type="hidden" name="SYS_UCTOKEN" value="<% SYS_UCTOKEN %>">
<h2>Shutdown</h2>
<p>Countdown: <strong id="countdown"><% SUM_OS_COUNTDOWN %></strong> s, cancelled: <strong id="cancelled"><% SUM_OS_CANCEL %></strong></p>
<div class="buttons"><button type="submit" name="SHUT_CANCEL" value="1" id="cancel">Cancel or resume the shutdown</button>
<button type="submit" class="secondary" name="PAUSE_BROAD" value="1" id="pause">Pause the alarm notices</button></div>
<h2 style="margin-top:24px">Simulation</h2>
<p>Sends a power event of the first trap source to every trap target, as if the UPS card had sent it.</p>
<div class="buttons"><button type="submit" class="secondary" name="SIM_POWERFAIL" value="1" id="sim-fail">Simulate a power failure</button>
<button type="submit" class="secondary" name="SIM_POWERRESTORE" value="1" id="sim-restore">Simulate power restored</button></div>
</form>
</main>
</div>
<script src="/js/menu.js"></script>
</body>
</html>
