<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Logged out</title>
<link rel="stylesheet" href="/template.css">
<link rel="icon" href="/images/logo.svg">
</head>
<body>
<div class="card message">
  <h1>Logged out</h1>
  <p>You have been logged out.</p>
  <div class="buttons" style="justify-content:center"><a class="button" href="/login.asp" id="again">Log in again</a></div>
</div>
</body>
</html>
