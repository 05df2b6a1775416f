<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - Shutdown and sources</title>
<link rel="stylesheet" href="/template.css">
<link rel="stylesheet" href="/ups.css">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>Shutdown and sources</h1>
<input type="hidden" id="page-token" name="SYS_UCTOKEN" value="<% SYS_UCTOKEN %>">

<form class="card" method="post" action="/orvik/dev_config" id="shutdown">
<h2>Shutdown conditions</h2>
<table class="list"><thead><tr><th>Condition</th><th>Enabled</th><th>Delay (seconds)</th></tr></thead><tbody>
<tr><td>Power failure</td><td><input type="checkbox" name="CFG_PF_EN" id="pf-en" data-on="<% CFG_PF_EN %>"></td><td><input type="number" min="0" name="CFG_OSD_PF" value="<% CFG_OSD_PF %>"></td></tr>
<tr><td>Battery low</td><td><input type="checkbox" name="CFG_BL_EN" id="bl-en" data-on="<% CFG_BL_EN %>"></td><td><input type="number" min="0" name="CFG_OSD_BL" value="<% CFG_OSD_BL %>"></td></tr>
<tr><td>Overload</td><td><input type="checkbox" name="CFG_OL_EN" id="ol-en" data-on="<% CFG_OL_EN %>"></td><td><input type="number" min="0" name="CFG_OSD_OL" value="<% CFG_OSD_OL %>"></td></tr>
<tr><td>Bypass</td><td><input type="checkbox" name="CFG_BP_EN" id="bp-en" data-on="<% CFG_BP_EN %>"></td><td><input type="number" min="0" name="CFG_OSD_BP" value="<% CFG_OSD_BP %>"></td></tr>
<tr><td>Smart shutdown</td><td><input type="checkbox" name="CFG_SS_EN" id="ss-en" data-on="<% CFG_SS_EN %>"></td><td><input type="number" min="0" name="CFG_OSD_SS" value="<% CFG_OSD_SS %>"></td></tr>
</tbody></table>
<div class="row"><label for="shut-type">When a countdown ends</label>
<select name="CFG_SHUT_TYPE" id="shut-type" data-value="<% CFG_SHUT_TYPE %>"><option value="0">Shut down</option><option value="1">Power off</option><option value="2">Hibernate</option><option value="3">Nothing</option></select></div>
<div class="buttons"><button type="submit" name="SUB_SHUTDOWN" value="Apply" id="shutdown-apply">Apply</button></div>
</form>

<form class="card" method="post" action="/orvik/dev_config" id="reaction">
<h2>Reactions</h2>
<div class="row"><label for="msg-en">Alarm notices to the tray</label><input type="checkbox" name="CFG_MSG_EN" id="msg-en" data-on="<% CFG_MSG_EN %>"></div>
<div class="row"><label for="msg-period">Notice period (seconds)</label><input type="number" min="0" max="65535" name="CFG_MSG_PERIOD" id="msg-period" value="<% CFG_MSG_PERIOD %>"></div>
<div class="row"><label for="cmd-en">Run a command file</label><input type="checkbox" name="CFG_CMD_EN" id="cmd-en" data-on="<% CFG_CMD_EN %>"></div>
<div class="row"><label for="cmd-file">Command file</label><input type="text" name="CFG_CMD_FILE" id="cmd-file" maxlength="249" value="<% CFG_CMD_FILE %>"></div>
<div class="row"><label for="cmd-before">Run it this many seconds before the end</label><input type="number" min="0" name="CFG_CMD_BEFORE" id="cmd-before" value="<% CFG_CMD_BEFORE %>"></div>
<div class="buttons"><button type="submit" name="SUB_REACTION" value="Apply" id="reaction-apply">Apply</button></div>
</form>

<form class="card" method="post" action="/orvik/dev_config" id="logical">
<h2>Trap listener</h2>
<div class="row"><label for="trap-port">Trap port</label><input type="number" min="1" max="65535" name="CFG_TRAP_PORT" id="trap-port" value="<% CFG_TRAP_PORT %>"></div>
<div class="row"><label for="src-logical">Combine the sources with</label>
<select name="CFG_SRC_LOGICAL" id="src-logical" data-value="<% CFG_SRC_LOGICAL %>"><option value="0">OR (any source)</option><option value="1">AND (every source)</option></select></div>
<div class="buttons"><button type="submit" name="SUB_LOGICAL" value="Apply" id="logical-apply">Apply</button></div>
</form>

<form class="card" method="post" action="/orvik/dev_isource" id="sources">
<h2>Trusted trap sources</h2>
<table class="list" id="src-table"><thead><tr><th>#</th><th>IP address</th><th>Community</th><th>SNMPv3 user</th></tr></thead><tbody>
<% CFG_SRC_LIST %></tbody></table>
<p>Row <span id="src-row">new</span></p>
<div class="row"><label for="src-ip">IP address</label><input type="text" name="CFG_DEV_IP" id="src-ip" maxlength="51"></div>
<div class="row"><label for="src-comm">Community</label><input type="text" name="CFG_DEV_COMM" id="src-comm" maxlength="16"></div>
<div class="row"><label for="src-user">SNMPv3 user</label><input type="text" name="CFG_DEV_USER" id="src-user" maxlength="16"></div>
<div class="buttons"><button type="submit" name="CFG_DEV_ADD1" value="Add" id="src-add">Add</button>
<button type="submit" name="CFG_DEV_EDIT1" data-action="CFG_DEV_EDIT" value="Edit" id="src-edit">Edit</button>
<button type="submit" class="secondary" name="CFG_DEV_DEL1" data-action="CFG_DEV_DEL" value="Delete" id="src-del">Delete</button></div>
</form>

<form class="card" method="post" action="/orvik/dev_config" id="manageable">
<h2>Management over SNMP</h2>
<div class="row"><label for="mag-en">Allow the SNMPv3 manager user to change settings</label><input type="checkbox" name="CFG_MAG_EN" id="mag-en" data-on="<% CFG_MAG_EN %>"></div>
<div class="buttons"><button type="submit" name="SUB_MAG" value="Apply" id="mag-apply">Apply</button></div>
</form>

<form class="card" method="post" action="/orvik/dev_config" id="vmware">
<h2>VMware ESXi host</h2>
<div class="row"><label for="vm-en">Shut the host down first</label><input type="checkbox" name="CFG_VM_EN" id="vm-en" data-on="<% CFG_VM_EN %>"></div>
<div class="row"><label for="gs-en">Shut the guests down</label><input type="checkbox" name="CFG_GS_EN" id="gs-en" data-on="<% CFG_GS_EN %>"></div>
<div class="row"><label for="vm-type">Host version</label>
<select name="CFG_VM_TYPE" id="vm-type" data-value="<% CFG_VM_TYPE %>"><option value="0">ESXi 6.5</option><option value="1">ESXi 5</option></select></div>
<div class="row"><label for="vm-host">Host</label><input type="text" name="CFG_VM_HOST" id="vm-host" maxlength="128" value="<% CFG_VM_HOST %>"></div>
<div class="row"><label for="vm-account">Account</label><input type="text" name="CFG_VM_ACCOUNT" id="vm-account" maxlength="32" value="<% CFG_VM_ACCOUNT %>"></div>
<div class="row"><label for="vm-password">Password</label><input type="password" name="CFG_VM_PASSWORD" id="vm-password" maxlength="32" value="<% CFG_VM_PASSWORD %>" placeholder="unchanged when empty"></div>
<div class="row"><label for="vm-vcli">vCLI folder</label><input type="text" name="CFG_VM_VCLI" id="vm-vcli" maxlength="255" value="<% CFG_VM_VCLI %>"></div>
<div class="buttons"><button type="submit" name="SUB_VM" value="Apply" id="vm-apply">Apply</button>
<button type="submit" class="secondary" name="SUB_TSH" value="Test" id="vm-test">Test the host shutdown</button></div>
</form>

<form class="card" method="post" action="/orvik/dev_icluster" id="clusters">
<h2>VMware clusters</h2>
<table class="list" id="cl-table"><thead><tr><th>#</th><th>vCenter</th><th>Account</th><th>Password</th><th>Cluster</th></tr></thead><tbody>
<% CFG_CLUSTER_LIST %></tbody></table>
<p>Row <span id="cl-row">new</span></p>
<div class="row"><label for="cl-ip">vCenter</label><input type="text" name="CFG_CLUSTER_IP" id="cl-ip" maxlength="51"></div>
<div class="row"><label for="cl-account">Account</label><input type="text" name="CFG_CLUSTER_ACCOUNT" id="cl-account" maxlength="32"></div>
<div class="row"><label for="cl-password">Password</label><input type="password" name="CFG_CLUSTER_PASSWORD" id="cl-password" maxlength="32" placeholder="unchanged when empty"></div>
<div class="row"><label for="cl-name">Cluster</label><input type="text" name="CFG_CLUSTER_NAME" id="cl-name" maxlength="32"></div>
<div class="buttons"><button type="submit" name="CFG_CLUSTER_ADD1" value="Add" id="cl-add">Add</button>
<button type="submit" name="CFG_CLUSTER_EDIT1" data-action="CFG_CLUSTER_EDIT" value="Edit" id="cl-edit">Edit</button>
<button type="submit" class="secondary" name="CFG_CLUSTER_DEL1" data-action="CFG_CLUSTER_DEL" value="Delete" id="cl-del">Delete</button>
<button type="submit" class="secondary" name="CFG_CLUSTER_TST1" data-action="CFG_CLUSTER_TST" value="Test" id="cl-test">Test the cluster shutdown</button></div>
</form>
</main>
</div>
<script src="/js/menu.js"></script>
<script src="/js/ups.js"></script>
<script>
function Func_Select(n, ip, community, user, real) {
  return upsSelectRow("src", n, {"src-ip": real ? ip : "", "src-comm": real ? community : "", "src-user": real ? user : ""}, real);
}
function Func_SelectCluster(n, vcenter, account, password, cluster, real) {
  return upsSelectRow("cl", n, {"cl-ip": real ? vcenter : "", "cl-account": account, "cl-password": password, "cl-name": cluster}, real);
}
(function () {
  var boxes = document.querySelectorAll("input[type=checkbox][data-on]");
  for (var i = 0; i < boxes.length; i++) boxes[i].checked = boxes[i].getAttribute("data-on") === "1";
  var selects = document.querySelectorAll("select[data-value]");
  for (var k = 0; k < selects.length; k++) selects[k].value = selects[k].getAttribute("data-value");
  <% CFG_FUNC_LOAD %>
})();
</script>
</body>
</html>
