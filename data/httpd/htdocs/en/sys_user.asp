<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - User accounts</title>
<link rel="stylesheet" href="/template.css">
<link rel="icon" href="/images/logo.svg">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>User accounts</h1>
<form class="card" method="post" action="/orvik/sys_user" autocomplete="off">
<input type="hidden" name="SYS_UCTOKEN" value="<% SYS_UCTOKEN %>">
<h2>Accounts</h2>
<div class="row"><label>Administrator</label><input type="text" name="USR_ACCOUNT1" maxlength="32" value="<% USR_ACCOUNT1 %>"></div>
<div class="row"><label>New password</label><input type="password" name="USR_PASSWD1" maxlength="32" placeholder="unchanged" value="<% USR_PASSWD %>"></div>
<div class="row"><label>Device manager</label><input type="text" name="USR_ACCOUNT2" maxlength="32" value="<% USR_ACCOUNT2 %>"></div>
<div class="row"><label>New password</label><input type="password" name="USR_PASSWD2" maxlength="32" placeholder="unchanged" value="<% USR_PASSWD %>"></div>
<div class="row"><label>User</label><input type="text" name="USR_ACCOUNT3" maxlength="32" value="<% USR_ACCOUNT3 %>"></div>
<div class="row"><label>New password</label><input type="password" name="USR_PASSWD3" maxlength="32" placeholder="unchanged" value="<% USR_PASSWD %>"></div>
<h2>Login lock</h2>
<div class="row"><label for="lock">Lock after failures</label><span><input type="checkbox" id="lock" name="USR_LOCK" value="1" <% USR_LOCK %>></span></div>
<div class="row"><label for="retry">Failures before lock</label><input type="number" id="retry" name="USR_RETRY" min="0" max="65535" value="<% USR_RETRY %>"></div>
<div class="row"><label for="ltime">Lock time (minutes)</label><input type="number" id="ltime" name="USR_LTIME" min="0" max="65535" value="<% USR_LTIME %>"></div>
<div class="buttons"><button type="submit" id="apply">Apply</button></div>
</form>
</main>
</div>
<script src="/js/menu.js"></script>
</body>
</html>
