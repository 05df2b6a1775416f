<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vellmar - Menu</title>
<link rel="stylesheet" href="/template.css">
<link rel="icon" href="/images/logo.svg">
</head>
<body>
<div class="layout">
<nav class="menu" id="menu"></nav>
<main>
<h1>Menu</h1>
<div class="card"><p>Choose a page from the menu.</p></div>
</main>
</div>
<script src="/js/menu.js"></script>
</body>
</html>
