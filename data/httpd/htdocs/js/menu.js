// The page header and the menu shared by every page after login.
(function () {
  var groups = [
    ["Monitor", [["Overview", "/en/device/index.asp"], ["UPS summary", "/en/summary.asp"],
                 ["Event history", "/en/hist_log.asp"], ["Event log settings", "/en/hist_config.asp"]]],
    ["UPS", [["Shutdown and sources", "/en/device/dev_config.asp"], ["Device commands", "/en/device/dev_control.asp"],
             ["Trap forwarding", "/en/device/dev_forward.asp"], ["SNMPv1 agent", "/en/device/dev_snmpv1.asp"],
             ["SNMPv3 agent", "/en/device/dev_snmpv3.asp"], ["Settings file", "/en/sys_batch.asp"],
             ["Debug", "/debug.asp"]]],
    ["System", [["System information", "/en/sys_info.asp"], ["User accounts", "/en/sys_user.asp"],
                ["Web settings", "/en/sys_web.asp"], ["Language", "/en/language.asp"]]],
    ["Session", [["Log out", "/logout.asp"]]]
  ];
  var header = document.createElement("header");
  header.className = "top";
  header.innerHTML = '<img src="/images/logo.svg" alt=""><span class="product">Vellmar</span><span class="spacer"></span>';
  var nav = document.getElementById("menu");
  groups.forEach(function (g) {
    var h = document.createElement("h3");
    h.textContent = g[0];
    nav.appendChild(h);
    g[1].forEach(function (item) {
      var a = document.createElement("a");
      a.textContent = item[0];
      a.href = item[1];
      if (location.pathname === item[1]) a.style.fontWeight = "600";
      nav.appendChild(a);
    });
  });
  document.body.insertBefore(header, document.body.firstChild);
})();
