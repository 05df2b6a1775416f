// Helpers of the UPS pages: one anti-forgery token per page handed to every form, and the row
// selection of the list editors.
(function () {
  var source = document.getElementById("page-token");
  if (source) {
    var forms = document.getElementsByTagName("form");
    for (var i = 0; i < forms.length; i++) {
      if (forms[i].querySelector("input[name=SYS_UCTOKEN]") || forms[i].getAttribute("data-no-token") !== null) continue;
      var t = document.createElement("input");
      t.type = "hidden";
      t.name = "SYS_UCTOKEN";
      t.value = source.value;
      forms[i].appendChild(t);
    }
  }
})();

// Selects the option of a stored value; a value that no option offers gets an option of its own,
// so that an edit leaving the field as it was posts the stored value.
function upsSelectValue(select, value) {
  var text = String(value);
  for (var i = 0; i < select.options.length; i++) {
    if (select.options[i].value === text) {
      select.value = text;
      return;
    }
  }
  var option = document.createElement("option");
  option.value = text;
  option.textContent = "Stored value " + text;
  select.appendChild(option);
  select.value = text;
}

// Fills the editor fields of a list and points its edit and delete buttons at row n; a
// placeholder row (real 0) leaves only adding possible.
function upsSelectRow(prefix, n, values, real) {
  for (var id in values) {
    var field = document.getElementById(id);
    if (!field) continue;
    if (field.type === "checkbox") field.checked = !!values[id];
    else if (field.tagName === "SELECT") upsSelectValue(field, values[id]);
    else field.value = values[id];
  }
  var edit = document.getElementById(prefix + "-edit"), del = document.getElementById(prefix + "-del");
  var test = document.getElementById(prefix + "-test");
  [edit, del, test].forEach(function (b) {
    if (!b) return;
    b.name = b.getAttribute("data-action") + n;
    b.disabled = !real;
  });
  var table = document.getElementById(prefix + "-table");
  if (table) {
    var rows = table.getElementsByTagName("tr");
    for (var i = 0; i < rows.length; i++) rows[i].classList.toggle("selected", i === n && !!real);
  }
  var shown = document.getElementById(prefix + "-row");
  if (shown) shown.textContent = real ? String(n) : "new";
  return false;
}

// Row links select their row without moving the page.
document.addEventListener("click", function (e) {
  var a = e.target.closest ? e.target.closest("a[href='#'][onclick]") : null;
  if (a) e.preventDefault();
});
