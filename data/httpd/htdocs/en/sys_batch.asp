<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - Settings file</title>
<link rel="stylesheet" href="/template.css">
<link rel="stylesheet" href="/ups.css">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>Settings file</h1>
<form class="card" method="post" action="/orvik/sys_batch" id="download">
<input type="hidden" name="SYS_UCTOKEN" value="<% SYS_UCTOKEN %>">
<h2>Download</h2>
<p>Saves every setting of this service as agent.ini. The file holds the coded passwords: keep it safe.</p>
<div class="buttons"><button type="submit" name="DL_SYSTEM" value="Download" id="dl">Download the settings</button></div>
</form>
<form class="card" method="post" action="/orvik/sys_batch" enctype="multipart/form-data" id="upload">
<h2>Upload</h2>
<p>Replaces the settings with those of a file downloaded before.</p>
<div class="row"><label for="ul-file">Settings file</label><input type="file" name="UL_F_SYSTEM" id="ul-file" accept=".ini"></div>
<div class="buttons"><button type="submit" name="UL_SYSTEM" value="Upload" id="ul">Upload</button></div>
</form>
</main>
</div>
<script src="/js/menu.js"></script>
<script>
// Both forms share the page's one token.
(function () {
  var t = document.querySelector("#download input[name=SYS_UCTOKEN]").cloneNode();
  document.getElementById("upload").insertBefore(t, document.getElementById("upload").firstChild);
})();
</script>
</body>
</html>
