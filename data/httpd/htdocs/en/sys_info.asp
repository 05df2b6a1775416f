<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - System information</title>
<link rel="stylesheet" href="/template.css">
<link rel="icon" href="/images/logo.svg">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>System information</h1>
<form class="card" method="post" action="/orvik/sys_info">
<input type="hidden" name="SYS_UCTOKEN" value="<% SYS_UCTOKEN %>">
<div class="row"><label for="name">System name</label><input type="text" id="name" name="INF_NAME" maxlength="31" value="<% INF_NAME %>"></div>
<div class="row"><label for="location">Location</label><input type="text" id="location" name="INF_LOCATION" maxlength="63" value="<% INF_LOCATION %>"></div>
<div class="row"><label for="contactor">Contact</label><input type="text" id="contactor" name="INF_CONTACTOR" maxlength="31" value="<% INF_CONTACTOR %>"></div>
<div class="row"><label for="description">Description</label><input type="text" id="description" name="INF_DESCRIPTION" maxlength="127" value="<% INF_DESCRIPTION %>"></div>
<div class="row"><label for="date">Installation date</label><input type="text" id="date" name="INF_INSTALL_DATE" maxlength="31" value="<% INF_INSTALL_DATE %>"></div>
<div class="buttons"><button type="submit" id="apply">Apply</button></div>
</form>
</main>
</div>
<script src="/js/menu.js"></script>
</body>
</html>
