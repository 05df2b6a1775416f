<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - SNMPv3 agent</title>
<link rel="stylesheet" href="/template.css">
<link rel="stylesheet" href="/ups.css">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>SNMPv3 agent</h1>
<div class="notice" id="factory-usm" hidden>The SNMPv3 user manager still uses the factory pass phrases. Please change them below: select row 1, enter new pass phrases and press Edit.</div>
<script>if (Number("<% SYS_DFTUSM %>") !== 0) document.getElementById("factory-usm").hidden = false;</script>
<input type="hidden" id="page-token" name="SYS_UCTOKEN" value="<% SYS_UCTOKEN %>">
<form class="card" method="post" action="/orvik/dev_snmpv3" id="context">
<h2>Context</h2>
<div class="row"><label for="usm-context">Context name</label><input type="text" name="CFG_USM_CONTEXT" id="usm-context" maxlength="16" value="<% CFG_USM_CONTEXT %>"></div>
<div class="buttons"><button type="submit" name="SUB_CONTEXT" value="Apply" id="context-apply">Apply</button></div>
</form>
<form class="card" method="post" action="/orvik/dev_iusm" id="users">
<h2>SNMPv3 users</h2>
<p>Row 1 is the manager user; its write permission follows the management switch on the <a href="/en/device/dev_config.asp">shutdown page</a>. Its name stays; the administrator may give it new pass phrases.</p>
<table class="list" id="usm-table"><thead><tr><th>#</th><th>User</th><th>Security</th><th>Auth</th><th>Priv</th><th>Permission</th></tr></thead><tbody>
<% USM_USER_LIST %></tbody></table>
<p>Row <span id="usm-row">new</span></p>
<div class="row"><label for="usm-user">User</label><input type="text" name="CFG_USM_USER" id="usm-user" maxlength="16"></div>
<div class="row"><label for="usm-security">Security</label>
<select name="CFG_USM_SECURITY" id="usm-security"><option value="0">None</option><option value="1">Authentication (MD5)</option><option value="2">Authentication and privacy (MD5, DES)</option></select></div>
<div class="row"><label for="usm-auth">Auth pass phrase</label><input type="password" name="CFG_USM_AUTH" id="usm-auth" maxlength="16" placeholder="8 to 16 characters, unchanged when empty"></div>
<div class="row"><label for="usm-priv">Privacy pass phrase</label><input type="password" name="CFG_USM_PRIV" id="usm-priv" maxlength="16" placeholder="8 to 16 characters, unchanged when empty"></div>
<div class="row"><label for="usm-perm">Permission</label>
<select name="CFG_USM_PERMISSION" id="usm-perm"><option value="1">Read</option><option value="2">Read and write</option><option value="0">No access</option></select></div>
<div class="buttons"><button type="submit" name="CFG_DEV_ADD1" value="Add" id="usm-add">Add</button>
<button type="submit" name="CFG_DEV_EDIT1" data-action="CFG_DEV_EDIT" value="Edit" id="usm-edit">Edit</button>
<button type="submit" class="secondary" name="CFG_DEV_DEL1" data-action="CFG_DEV_DEL" value="Delete" id="usm-del">Delete</button></div>
</form>
</main>
</div>
<script src="/js/menu.js"></script>
<script src="/js/ups.js"></script>
<script>
function Func_Select(n, user, security, auth, priv, permission, real) {
  upsSelectRow("usm", n, {"usm-user": user, "usm-security": security, "usm-auth": "", "usm-priv": "",
                          "usm-perm": real ? permission : 1}, real);
  // The manager user (row 1) is never deleted; an edit changes only its pass phrases.
  if (n === 1) document.getElementById("usm-del").disabled = true;
  return false;
}
<% USM_FUNC_LOAD %>
</script>
</body>
</html>
