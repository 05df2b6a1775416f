<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - Overview</title>
<link rel="stylesheet" href="/template.css">
<link rel="icon" href="/images/logo.svg">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>Overview</h1>
<div class="card"><h2>This system</h2>
<table class="info">
<tr><td>System name</td><td id="name"><% INF_NAME %></td></tr>
<tr><td>Location</td><td><% INF_LOCATION %></td></tr>
<tr><td>Contact</td><td><% INF_CONTACTOR %></td></tr>
<tr><td>Description</td><td><% INF_DESCRIPTION %></td></tr>
<tr><td>Installed</td><td><% INF_INSTALL_DATE %></td></tr>
<tr><td>Time</td><td><% SYS_TIME %></td></tr>
</table></div>
</main>
</div>
<script src="/js/menu.js"></script>
</body>
</html>
