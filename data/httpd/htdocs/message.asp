<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Message</title>
<link rel="stylesheet" href="/template.css">
<link rel="icon" href="/images/logo.svg">
</head>
<body>
<div class="card message">
  <h1 id="title"><% ERR_TITLE %></h1>
  <p id="body"><% ERR_MSG %></p>
  <div class="buttons" style="justify-content:center"><button type="button" id="back" onclick="<% ERR_PATH %>">OK</button></div>
</div>
</body>
</html>
