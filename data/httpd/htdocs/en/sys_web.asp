<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - Web settings</title>
<link rel="stylesheet" href="/template.css">
<link rel="icon" href="/images/logo.svg">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>Web settings</h1>
<form class="card" method="post" action="/orvik/sys_web" enctype="multipart/form-data">
<input type="hidden" name="SYS_UCTOKEN" value="<% SYS_UCTOKEN %>">
<div class="row"><label>HTTP</label><span><label><input type="radio" name="HTTP_WEB" value="1" <% WEB_HTTP_EN %>> on</label> <label><input type="radio" name="HTTP_WEB" value="0" <% WEB_HTTP_DIS %>> off</label></span></div>
<div class="row"><label for="http-port">HTTP port</label><input type="number" id="http-port" name="WEB_HTTP_PORT" min="1" max="65535" value="<% WEB_HTTP_PORT %>"></div>
<div class="row"><label>HTTPS</label><span><label><input type="radio" name="HTTPS_WEB" value="1" <% WEB_HTTPS_EN %>> on</label> <label><input type="radio" name="HTTPS_WEB" value="0" <% WEB_HTTPS_DIS %>> off</label></span></div>
<div class="row"><label for="https-port">HTTPS port</label><input type="number" id="https-port" name="WEB_HTTPS_PORT" min="1" max="65535" value="<% WEB_HTTPS_PORT %>"></div>
<div class="row"><label>Redirect HTTP to HTTPS</label><span><label><input type="radio" name="WEB_FORCEHTTPS" value="1" <% WEB_FORCEHTTPS_EN %>> on</label> <label><input type="radio" name="WEB_FORCEHTTPS" value="0" <% WEB_FORCEHTTPS_DIS %>> off</label></span></div>
<div class="row"><label for="refresh">Page refresh (seconds)</label><input type="number" id="refresh" name="WEB_REFRESH" min="1" value="<% WEB_REFRESH %>"></div>
<div class="row"><label for="cert">Certificate and key (PEM)</label><input type="file" id="cert" name="WEB_SSLCERT" accept=".pem"></div>
<div class="buttons"><button type="submit" id="apply">Apply</button></div>
</form>
</main>
</div>
<script src="/js/menu.js"></script>
</body>
</html>
