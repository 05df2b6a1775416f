<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title><% LIN_PRODUCT_NAME %> - Login</title>
<link rel="stylesheet" href="/template.css">
<link rel="icon" href="/images/logo.svg">
<script src="/js/md5.js"></script>
</head>
<body>
<div class="login-page">
  <form class="login-box" id="login" method="post" action="/orvik/login" autocomplete="off">
    <div class="brand"><img src="/images/logo.svg" alt=""><div><strong><% LIN_PRODUCT_NAME %></strong><br><small><% LIN_DEVICE_IP %></small></div></div>
    <label for="user">Account</label>
    <input type="text" id="user" name="Username" value="<% LIN_ACCOUNT %>" autofocus>
    <label for="password">Password</label>
    <input type="password" id="password" value="<% LIN_PASSWORD %>">
    <input type="hidden" name="Response" id="response" value="">
    <input type="hidden" id="challenge" value="<% LIN_CHALLENGE_VALUE %>">
    <input type="hidden" id="submit-now" value="<% LIN_SUBMIT %>">
    <button type="submit" id="login-button">Log in</button>
    <div class="foot">Version <% LIN_SWVER %></div>
  </form>
</div>
<script>
// The password never leaves the browser: only MD5(account + password + challenge) is sent.
document.getElementById("login").addEventListener("submit", function () {
  var user = document.getElementById("user").value;
  var password = document.getElementById("password");
  var challenge = document.getElementById("challenge").value;
  document.getElementById("response").value = md5Hex(user + password.value + challenge);
  password.value = "";
});
if (document.getElementById("submit-now").value === "1") document.getElementById("login").requestSubmit();
</script>
</body>
</html>
