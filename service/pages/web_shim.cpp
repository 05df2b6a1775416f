// Stand-in for the web layer's request-scoped state and form helpers until the web server lands.
#include "service/pages/web_shim.h"

#include <cstdarg>
#include <cstring>

#include "common/html_escape.h"
#include "service/core/net_address.h"

char g_reply[REPLY_SIZE];
ClientAddress g_client_address;
int32_t g_session_check = -1;
FormFields FormFieldTable;
SessionApiTable SessionApi;

int http_find_field(const char* key) {
  for (int i = 0; i < FormFieldTable.count; ++i)
    if (FormFieldTable.rows[i].name && strncmp(FormFieldTable.rows[i].name, key, 7) == 0) return i;
  return -1;
}

int http_form_check_inputs(int count, ...) {
  if (count >= 16) return 1;
  const char* names[16];
  va_list ap;
  va_start(ap, count);
  for (int i = 0; i < count; ++i) names[i] = va_arg(ap, const char*);
  va_end(ap);
  for (int f = 0; f < FormFieldTable.count; ++f) {
    const FormField& field = FormFieldTable.rows[f];
    if (!field.name || !field.value) continue;
    for (int i = 0; i < count; ++i) {
      if (strncmp(field.name, names[i], 7) != 0 || !util_has_html_special(field.value)) continue;
      snprintf(g_reply, sizeof g_reply, "Message: Title=Error\nBody=<font color=#F00000>Incorrect input!</font>\n");
      return 1;
    }
  }
  return 0;
}

void asp_write_text(FILE* out, const char* text) { html_write(out, text); }

void asp_write_script_text(FILE* out, const char* text) { js_write(out, text); }

size_t asp_escape_html(char* out, size_t room, const char* text) { return html_escape(out, room, text); }
