<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - Trap forwarding</title>
<link rel="stylesheet" href="/template.css">
<link rel="stylesheet" href="/ups.css">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>Trap forwarding</h1>
<input type="hidden" id="page-token" name="SYS_UCTOKEN" value="<% SYS_UCTOKEN %>">
<form class="card" method="post" action="/orvik/dev_iforward" id="targets">
<h2>Trap targets</h2>
<p>Every trap accepted from a trusted source is sent on to these managers.</p>
<table class="list" id="fwd-table"><thead><tr><th>#</th><th>IP address</th><th>Port</th></tr></thead><tbody>
<% FWD_TARGET_LIST %></tbody></table>
<p>Row <span id="fwd-row">new</span></p>
<div class="row"><label for="fwd-ip">IP address</label><input type="text" name="FWD_TARGET_IP" id="fwd-ip" maxlength="51"></div>
<div class="row"><label for="fwd-port">Port</label><input type="number" min="1" max="65535" name="FWD_TARGET_PORT" id="fwd-port" value="162"></div>
<div class="buttons"><button type="submit" name="FWD_TARGET_ADD1" value="Add" id="fwd-add">Add</button>
<button type="submit" name="FWD_TARGET_EDIT1" data-action="FWD_TARGET_EDIT" value="Edit" id="fwd-edit">Edit</button>
<button type="submit" class="secondary" name="FWD_TARGET_DEL1" data-action="FWD_TARGET_DEL" value="Delete" id="fwd-del">Delete</button></div>
</form>
</main>
</div>
<script src="/js/menu.js"></script>
<script src="/js/ups.js"></script>
<script>
function Func_Select(n, ip, port, real) {
  return upsSelectRow("fwd", n, {"fwd-ip": real ? ip : "", "fwd-port": port}, real);
}
<% FWD_FUNC_LOAD %>
</script>
</body>
</html>
