<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - Welcome</title>
<link rel="stylesheet" href="/template.css">
<link rel="icon" href="/images/logo.svg">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>Welcome</h1>
<div class="notice" id="default-password" hidden>Some accounts still use the factory password. Please change it on the <a href="/en/sys_user.asp">user accounts</a> page.</div>
<div class="notice" id="factory-usm" hidden>The SNMPv3 user manager still uses the factory pass phrases. Please change them on the <a href="/en/device/dev_snmpv3.asp">SNMPv3 agent</a> page.</div>
<div class="card"><h2>Vellmar UPS protection</h2><p>Choose a page from the menu. The <a href="/en/device/index.asp">overview</a> shows this system.</p></div>
<script>if (Number("<% SYS_DFTPASSWRD %>") !== 0) document.getElementById("default-password").hidden = false;</script>
<script>if (Number("<% SYS_DFTUSM %>") !== 0) document.getElementById("factory-usm").hidden = false;</script>
</main>
</div>
<script src="/js/menu.js"></script>
</body>
</html>
