// Posted form data into FormFieldTable: URL-encoded bodies and multipart bodies, cut in place;
// the uploaded certificate; the decoding and splitting of URL and query text.
#include "service/web/form_data.h"

#include <cstring>

#include "platform/fs.h"

static int hex_value(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

uint32_t http_url_decode(const char* src, uint32_t src_len, char* dst, uint32_t dst_size, int plus_to_space) {
  uint32_t j = 0;
  if (dst_size == 0) return 0;
  for (uint32_t i = 0; i < src_len && j + 1 < dst_size; ++i, ++j) {
    int hi, lo;
    if (src[i] == '%' && i + 2 < src_len && (hi = hex_value(src[i + 1])) >= 0 && (lo = hex_value(src[i + 2])) >= 0) {
      dst[j] = char(hi * 16 + lo);
      i += 2;
    } else if (plus_to_space && src[i] == '+') {
      dst[j] = ' ';
    } else {
      dst[j] = src[i];
    }
  }
  dst[j] = 0;
  return j;
}

void http_percent_decode(const char* src, char* dst) {
  int hi, lo;
  while (*src) {
    if (src[0] == '%' && (hi = hex_value(src[1])) >= 0 && (lo = hex_value(src[2])) >= 0) {
      *dst++ = char(hi * 16 + lo);
      src += 3;
    } else {
      *dst++ = *src++;
    }
  }
  *dst = 0;
}

int util_split_tokens(char* text, const char* delimiters, int max, char** out) {
  int count = 0;
  char* p = text;
  while (count < max) {
    p += strspn(p, delimiters);
    if (!*p) break;
    out[count++] = p;
    p += strcspn(p, delimiters);
    if (!*p) break;
    *p++ = 0;
  }
  return count;
}

static void form_parse_urlencoded(char* p) {
  while (*p && FormFieldTable.count < FORM_FIELDS_MAX) {
    char* eq = strchr(p, '=');
    if (!eq) return;
    *eq = 0;
    FormField& f = FormFieldTable.rows[FormFieldTable.count++];
    f = FormField{p, nullptr, eq + 1, nullptr};
    char* v = eq + 1;
    size_t len = strcspn(v, "&\r");
    char* next = v + len;
    if (*next == '\r') {
      *next++ = 0;
      if (*next == '\n') ++next;
      if (*next == '&') ++next;
    } else if (*next == '&') {
      *next++ = 0;
    }
    if (*next == '\r' && next[1] == '\n') next += 2;
    for (char* c = v; *c; ++c)
      if (*c == '+') *c = ' ';
    if (len < 2048) http_percent_decode(v, v);
    p = next;
  }
}

// Reads the Content-Disposition parameters of a part into its row.
static void form_part_params(char* line, FormField& f) {
  char* p = strchr(line, ';');
  while (p && *p) {
    ++p;
    while (*p == ' ') ++p;
    char* eq = strchr(p, '=');
    if (!eq) return;
    *eq = 0;
    char* key = p;
    char* v = eq + 1;
    while (*v == ' ') ++v;
    char* end;
    if (*v == '"') {
      ++v;
      end = strchr(v, '"');
      if (!end) return;
      *end++ = 0;
      end = strchr(end, ';');
    } else {
      end = strchr(v, ';');
      if (end) *end = 0;
    }
    size_t k = strlen(key);
    if (strcmp(key, "filename") == 0) f.filename = v;
    else if (k >= 4 && strcmp(key + k - 4, "name") == 0) f.name = v;
    else return;
    if (!end) return;
    p = end;
    if (*p == 0) return;
    if (*p != ';') p = strchr(p, ';');
  }
}

static void form_parse_multipart(char* body, const char* boundary_param) {
  const char* eq = strchr(boundary_param, '=');
  if (!eq) return;
  char delimiter[2050] = "--";
  size_t blen = strcspn(eq + 1, "\r\n");
  if (blen > 2046) blen = 2046;
  memcpy(delimiter + 2, eq + 1, blen);
  delimiter[2 + blen] = 0;
  size_t dlen = 2 + blen;
  char* p = strstr(body, delimiter);
  while (p && FormFieldTable.count < FORM_FIELDS_MAX) {
    p += dlen;
    if (p[0] == '-' && p[1] == '-') return;
    char* crlf = strstr(p, "\r\n");
    if (!crlf || strncmp(crlf + 2, "Content-Disposition", 19) != 0) return;
    char* line = crlf + 2;
    char* line_end = strstr(line, "\r\n");
    if (!line_end) return;
    char* head_end = strstr(line_end, "\n\r\n");
    if (!head_end) return;
    char* value = head_end + 3;
    char* next = strstr(value, delimiter);
    if (!next) return;
    char* value_stop = next;
    if (value_stop - value >= 2 && value_stop[-2] == '\r' && value_stop[-1] == '\n') value_stop -= 2;
    FormField& f = FormFieldTable.rows[FormFieldTable.count++];
    f = FormField{nullptr, nullptr, value, value_stop - 1};
    *line_end = 0;
    *value_stop = 0;
    form_part_params(line, f);
    if (!f.name) f.name = line_end;  // an empty name
    p = next;
  }
}

void http_parse_form_data(char* body, const char* boundary) {
  FormFieldTable.count = 0;
  if (!body) return;
  if (!boundary && strncmp(body, "MIME:", 5) == 0) {
    if (strncmp(body + 5, " Boundary=", 10) != 0) return;
    char* lf = strchr(body + 15, '\n');
    if (!lf) return;
    char param[2060];
    size_t n = size_t(lf - (body + 14));
    if (n >= sizeof param) n = sizeof param - 1;
    memcpy(param, body + 14, n);
    param[n] = 0;
    form_parse_multipart(lf + 1, param);
    return;
  }
  if (!boundary) form_parse_urlencoded(body);
  else form_parse_multipart(body, boundary);
}

int http_save_uploaded_cert(const FormField* field) {
  if (!field || !field->value || !field->value_end || field->value_end + 1 < field->value) return 0;
  size_t size = size_t(field->value_end - field->value + 1);
  if (size > 20000) return 0;
  char path[300];
  snprintf(path, sizeof path, "%s/httpd/cert_web.pem", HttpInstallDir);
  return fs_write_private_file(path, field->value, size) ? 1 : 0;
}
