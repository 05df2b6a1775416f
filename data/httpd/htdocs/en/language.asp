<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - Language</title>
<link rel="stylesheet" href="/template.css">
<link rel="icon" href="/images/logo.svg">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>Language</h1>
<form class="card" method="post" action="/orvik/language">
<input type="hidden" name="SYS_UCTOKEN" value="<% SYS_UCTOKEN %>">
<div class="row"><label for="lang">Language of events and manual</label><select id="lang" name="LANG">
<option value="0">English</option><option value="1">Traditional Chinese</option><option value="2">Simplified Chinese</option><option value="3">Polish</option></select></div>
<div class="buttons"><button type="submit" id="apply">Apply</button></div>
</form>
<script>document.getElementById("lang").value = "<% LIN_LANG %>";</script>
</main>
</div>
<script src="/js/menu.js"></script>
</body>
</html>
