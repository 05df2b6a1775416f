<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - SNMPv1 agent</title>
<link rel="stylesheet" href="/template.css">
<link rel="stylesheet" href="/ups.css">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>SNMPv1 agent</h1>
<input type="hidden" id="page-token" name="SYS_UCTOKEN" value="<% SYS_UCTOKEN %>">
<form class="card" method="post" action="/orvik/dev_snmpv1" id="port">
<h2>Agent port</h2>
<div class="row"><label for="snmp-port">UDP port</label><input type="number" min="1" max="65535" name="CFG_SNMP_PORT" id="snmp-port" value="<% CFG_SNMP_PORT %>"></div>
<div class="buttons"><button type="submit" name="SUB_PORT" value="Apply" id="port-apply">Apply</button></div>
</form>
<form class="card" method="post" action="/orvik/dev_iaccess" id="managers">
<h2>SNMP managers</h2>
<table class="list" id="acs-table"><thead><tr><th>#</th><th>IP address</th><th>Community</th><th>Permission</th></tr></thead><tbody>
<% ACS_SOURCE_LIST %></tbody></table>
<p>Row <span id="acs-row">new</span></p>
<div class="row"><label for="acs-ip">IP address (0.0.0.0 for any)</label><input type="text" name="CFG_DEV_IP" id="acs-ip" maxlength="51"></div>
<div class="row"><label for="acs-comm">Community</label><input type="text" name="CFG_DEV_COMM" id="acs-comm" maxlength="16"></div>
<div class="row"><label for="acs-perm">Permission</label>
<select name="CFG_DEV_PERMISSION" id="acs-perm"><option value="0">No access</option><option value="1">Read</option><option value="2">Read and write</option></select></div>
<div class="buttons"><button type="submit" name="CFG_DEV_ADD1" value="Add" id="acs-add">Add</button>
<button type="submit" name="CFG_DEV_EDIT1" data-action="CFG_DEV_EDIT" value="Edit" id="acs-edit">Edit</button>
<button type="submit" class="secondary" name="CFG_DEV_DEL1" data-action="CFG_DEV_DEL" value="Delete" id="acs-del">Delete</button></div>
</form>
</main>
</div>
<script src="/js/menu.js"></script>
<script src="/js/ups.js"></script>
<script>
function Func_Select(n, ip, community, permission, real) {
  return upsSelectRow("acs", n, {"acs-ip": real ? ip : "", "acs-comm": real ? community : "", "acs-perm": real ? permission : 1}, real);
}
<% ACS_FUNC_LOAD %>
</script>
</body>
</html>
