// The request router: method and version checks, path cleaning, the session gate, form posts
// answered from the form layer's reply line, error answers, files and rendered templates.
#include "service/web/http_request.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <sys/stat.h>

#include "common/install.h"
#include "common/settings.h"
#include "common/text.h"
#include "service/events/event_defs.h"
#include "service/web/asp_template.h"
#include "service/web/form_data.h"
#include "service/web/session.h"
#include "service/web/system_pages.h"

const char* const REPLY_PREFIXES[4] = {"OK", "Set Cookie: ", "Message: ", "Resp: "};

const MimeType MIME_TYPES[MIME_TYPE_COUNT] = {
    {".asp", "text/html"}, {".xml", "text/xml"}, {".pro", "text/xml"}, {".html", "text/html"},
    {".htm", "text/html"}, {".shtm", "text/html"}, {".shtml", "text/html"}, {".css", "text/css"},
    {".js", "application/x-javascript"}, {".ico", "image/x-icon"}, {".gif", "image/gif"},
    {".jpg", "image/jpeg"}, {".jpeg", "image/jpeg"}, {".png", "image/png"}, {".svg", "image/svg+xml"},
    {".torrent", "application/x-bittorrent"}, {".wav", "audio/x-wav"}, {".mp3", "audio/x-mp3"},
    {".mid", "audio/mid"}, {".m3u", "audio/x-mpegurl"}, {".ram", "audio/x-pn-realaudio"},
    {".ra", "audio/x-pn-realaudio"}, {".doc", "application/msword"}, {".exe", "application/octet-stream"},
    {".zip", "application/x-zip-compressed"}, {".xls", "application/excel"}, {".tgz", "application/x-tar-gz"},
    {".tar", "application/x-tar"}, {".gz", "application/x-gunzip"}, {".arj", "application/x-arj-compressed"},
    {".rar", "application/x-arj-compressed"}, {".rtf", "application/rtf"}, {".pdf", "application/pdf"},
    {".swf", "application/x-shockwave-flash"}, {".mpg", "video/mpeg"}, {".mpeg", "video/mpeg"},
    {".asf", "video/x-ms-asf"}, {".avi", "video/x-msvideo"}, {".bmp", "image/bmp"}, {".txt", "text/plain"},
    {".mib", "text/plain"},
};

const MimeType* http_content_type_for(const char* path) {
  size_t n = strlen(path);
  for (const auto& row : MIME_TYPES) {
    size_t e = strlen(row.ext);
    if (n > e && strcasecmp(path + n - e, row.ext) == 0) return &row;
  }
  return &MIME_TYPES[MIME_TYPE_COUNT - 1];
}

static bool is_separator(char ch) { return ch == '/' || ch == '\\'; }

void http_path_normalize(char* path) {
  char* out = path;
  const char* in = path;
  while (*in) {
    if (is_separator(*in)) {
      // Every separator is written as '/', so the gate and the file system see the same path.
      *out++ = '/';
      ++in;
      // Right after a separator further separators, every leading pair of dots and every "."
      // segment go.
      for (;;) {
        if (is_separator(*in)) ++in;
        else if (in[0] == '.' && in[1] == '.') in += 2;
        else if (in[0] == '.' && (in[1] == 0 || is_separator(in[1]))) ++in;
        else break;
      }
    } else {
      *out++ = *in++;
    }
  }
  *out = 0;
}

static void http_local_date(char* out, size_t room) {
  time_t t = time(nullptr);
  struct tm local;
  localtime_r(&t, &local);
  if (!strftime(out, room, "%a, %d %b %Y %H:%M:%S %Z", &local)) out[0] = 0;
}

void http_send_error(HttpConnection* c, int code, const char* reason, const char* detail_format, ...) {
  char body[256];
  int n = snprintf(body, sizeof body, "Error %d: %s\n", code, reason);
  if (n < 0) n = 0;
  if (size_t(n) < sizeof body) {
    va_list args;
    va_start(args, detail_format);
    vsnprintf(body + n, sizeof body - size_t(n), detail_format, args);
    va_end(args);
  }
  if (code < 200 || code == 204 || code == 304) body[0] = 0;
  http_conn_printf(c, "HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s",
                   code, reason, int(strlen(body)), body);
}

void http_redirect_https(HttpConnection* c) {
  char query[300] = "";
  if (c->query) snprintf(query, sizeof query, "/?%s", c->query);
  const char* host = c->headers[HDR_HOST] ? c->headers[HDR_HOST] : "";
  http_conn_printf(c, "HTTP/1.1 302 Redirect\r\nContent-Type: text/html\r\nConnection: close\r\nLocation: https://%s:%d%s\r\n\r\n",
                   host, HttpListenHttpsPort, query);
}

// The head of a file or page answer of `size` bytes; disposition is a whole header line or "".
static void http_send_head(HttpConnection* c, const MimeType* row, long size, const char* disposition) {
  char date[64];
  http_local_date(date, sizeof date);
  http_conn_printf(c, "HTTP/1.1 %d OK\r\nDate: %s\r\n%sContent-Type: %s\r\n%sConnection: close\r\nContent-Length: %ld\r\n\r\n",
                   200, date, row == &MIME_TYPES[0] ? "Cache-Control: private, no-store, no-cache\r\nPragma: no-cache\r\n" : "",
                   row->type, disposition, size);
  c->content_type = row;
}

// A template page is rendered in memory and goes behind its head in the send buffer; a page too
// large for it is read from the memory block.
static void http_send_page(HttpConnection* c, const char* file_path, const MimeType* row) {
  char* page = nullptr;
  size_t size = 0;
  if (!asp_render_page(file_path, strstr(file_path, "/message.asp") != nullptr, c->query, asp_device_vars, &page,
                       &size)) {
    http_send_error(c, 500, "Internal Server Error", "can't prepare file %s, ROOT = \\httpd\\htdocs", file_path);
    return;
  }
  http_send_head(c, row, long(size), "");
  if (c->state != 2) {
    free(page);
    return;
  }
  if (size <= HTTP_BUFFER_SIZE - uint32_t(c->send_pending)) {
    memcpy(c->send_buffer + c->send_pending, page, size);
    c->send_pending += int32_t(size);
    free(page);
    return;
  }
  c->page = page;
  c->file = fmemopen(page, size, "rb");
  if (!c->file) http_conn_close(c, 1);
}

void http_send_file(HttpConnection* c, const char* file_path) {
  int head = strcasecmp(c->method, "HEAD") == 0;
  const MimeType* row = http_content_type_for(file_path);
  bool template_row = row == &MIME_TYPES[0] || row == &MIME_TYPES[1];
  if (!head && template_row) {
    http_send_page(c, file_path, row);
    return;
  }
  FILE* f = fopen(file_path, "rb");
  if (!f) return;
  // The settings copy of a download is served once: it goes as soon as it is open for sending.
  char settings_copy[300], export_csv[300];
  bool settings = cfg_install_file(settings_copy, sizeof settings_copy, "httpd/htdocs/tmp/agent.ini") &&
                  strcmp(file_path, settings_copy) == 0;
  if (!head && settings) remove(file_path);
  // The downloads are saved under their own names, never shown in the browser.
  bool csv = cfg_install_file(export_csv, sizeof export_csv, "httpd/htdocs/tmp/event_log.csv") &&
             strcmp(file_path, export_csv) == 0;
  const char* disposition = settings ? "Content-Disposition: attachment; filename=\"agent.ini\"\r\n"
                            : csv    ? "Content-Disposition: attachment; filename=\"event_log.csv\"\r\n"
                                     : "";
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  http_send_head(c, row, size, disposition);
  if (c->state != 2 || head) {
    fclose(f);
    return;
  }
  c->file = f;
}

// Three texts one after the other, cut to the room.
static void text_join(char* out, size_t room, const char* a, const char* b, const char* c) {
  size_t n = text_copy8(out, room, a);
  n += text_copy8(out + n, room - n, b);
  text_copy8(out + n, room - n, c);
}

static bool contains_nocase(const char* text, const char* part) { return strcasestr(text, part) != nullptr; }

// True when the Referer's scheme is http or https and its host (port and the rest aside) is the
// request's Host; a user part or anything unusual makes it another host.
static bool referer_names_this_host(const char* ref, const char* slashes, const char* host) {
  size_t scheme = size_t(slashes - ref);
  if (!((scheme == 5 && strncasecmp(ref, "http:", 5) == 0) || (scheme == 6 && strncasecmp(ref, "https:", 6) == 0)))
    return false;
  const char* start = slashes + 2;
  size_t authority = strcspn(start, "/?#");
  size_t name = start[0] == '[' ? strcspn(start, "]") + 1 : strcspn(start, ":/?#");
  if (name > authority) return false;
  if (name < authority && start[name] != ':') return false;
  for (size_t i = name; i < authority; ++i)
    if (i > name && (start[i] < '0' || start[i] > '9')) return false;
  for (size_t i = 0; i < name; ++i)
    if (uint8_t(start[i]) <= 0x20 || start[i] == '@' || start[i] == '\\') return false;
  return name > 0 && strlen(host) == name && strncasecmp(start, host, name) == 0;
}

// Base of a form redirect: scheme, host and port from the Referer when it names this host, else
// from the connection and Host. False when the Referer names another place: the redirect then
// goes to "/" of this host.
static bool http_base_url(HttpConnection* c, char* out, size_t room) {
  const char* ref = c->headers[HDR_REFERER];
  const char* host = c->headers[HDR_HOST] ? c->headers[HDR_HOST] : "";
  const char* slashes = ref && strlen(ref) > 4 ? strstr(ref + 4, "//") : nullptr;
  bool same = slashes && referer_names_this_host(ref, slashes, host);
  if (same) {
    const char* end = slashes + 2 + strcspn(slashes + 2, "/?#");
    size_t n = size_t(end - ref);
    if (n >= room) n = room - 1;
    memcpy(out, ref, n);
    out[n] = 0;
    return true;
  }
  snprintf(out, room, "%s://%s", c->tls ? "https" : "http", host);
  return !slashes;
}

static void copy_line(char* out, size_t room, const char* from) {
  size_t n = strcspn(from, "\n");
  if (n >= room) n = room - 1;
  memcpy(out, from, n);
  out[n] = 0;
}

// Turns the form layer's reply line into the answer.
static void http_answer_form(HttpConnection* c) {
  char base[256];
  bool own = http_base_url(c, base, sizeof base);
  int kind = 4;
  for (int i = 0; i < 4; ++i)
    if (strncmp(g_reply, REPLY_PREFIXES[i], strlen(REPLY_PREFIXES[i])) == 0) {
      kind = i;
      break;
    }
  c->keep_alive = 0;
  char url[256];
  if (kind == 0) {
    const char* r = strstr(g_reply, "Redirect=");
    if (!r) return;
    copy_line(url, sizeof url, r + 9);
    // Only a path of this host is a target.
    if (url[0] != '/' || url[1] == '/' || url[1] == '\\') snprintf(url, sizeof url, "/");
    http_conn_printf(c, "HTTP/1.1 302 Redirect\r\nContent-Type: text/html\r\nConnection: close\r\nLocation: %s%s\r\n\r\n", base,
                     own ? url : "/");
  } else if (kind == 1) {
    char cookie[128];
    copy_line(cookie, sizeof cookie, g_reply + strlen(REPLY_PREFIXES[1]));
    http_conn_printf(c, "HTTP/1.1 302 Redirect\r\nContent-Type: text/html\r\nConnection: close\r\nSet-Cookie: %s;%s HttpOnly\r\nLocation: %s%s\r\n\r\n",
                     cookie, c->tls ? " Secure;" : "", base, own ? "/home.asp" : "/");
  } else if (kind == 2) {
    const char* from = g_reply;
    const char* r = strstr(g_reply, "Redirect=");
    if (r) {
      copy_line(url, sizeof url, r + 9);
      text_join(g_message_action, sizeof g_message_action, "window.location='", url, "'");
      const char* lf = strchr(r, '\n');
      from = lf ? lf + 1 : r + strlen(r);
    } else {
      snprintf(g_message_action, sizeof g_message_action, "window.history.back()");
    }
    g_message_title[0] = 0;
    g_message_body[0] = 0;
    if (const char* t = strstr(from, "Title=")) {
      copy_line(g_message_title, sizeof g_message_title, t + 6);
      const char* lf = strchr(t, '\n');
      from = lf ? lf + 1 : t + strlen(t);
    }
    if (const char* b = strstr(from, "Body=")) copy_line(g_message_body, sizeof g_message_body, b + 5);
    http_conn_printf(c, "HTTP/1.1 302 Redirect\r\nContent-Type: text/html\r\nConnection: close\r\nLocation: %s%s\r\n\r\n", base,
                     own ? "/message.asp" : "/");
  } else {
    snprintf(g_message_title, sizeof g_message_title, "Error Message");
    snprintf(g_message_body, sizeof g_message_body, "upsd reply: Not defined.");
    snprintf(g_message_action, sizeof g_message_action, "window.history.back()");
    http_conn_printf(c, "HTTP/1.1 302 Redirect\r\nContent-Type: text/html\r\nConnection: close\r\nLocation: %s%s\r\n\r\n", base,
                     own ? "/message.asp" : "/");
  }
  if (kind == 2 || kind == 4) http_message_keep();
}

static void http_handle_post(HttpConnection* c) {
  if (c->headers[HDR_CONTENT_TYPE] && strncasecmp(c->headers[HDR_CONTENT_TYPE], "multipart/form-data", 19) == 0) {
    char* semi = strchr(c->headers[HDR_CONTENT_TYPE], ';');
    c->boundary = semi ? semi + 1 : nullptr;
  }
  char* slash = strrchr(c->path, '/');
  if (slash) c->path = slash + 1;
  g_reply[0] = 0;
  int needed = http_post_required_level(c->path);
  if (needed < 3) {
    int level = sess_current_level();
    if (level < 0) {
      snprintf(g_reply, sizeof g_reply, "OK: Redirect=/login.asp");
    } else if (level > needed) {
      snprintf(g_reply, sizeof g_reply,
               "Message: Title=Error\nBody=<font color=#F00000>This account may not change this page.</font>\n");
    } else {
      http_device_form_post(c);
    }
  } else {
    http_device_form_post(c);
  }
  http_answer_form(c);
}

void http_handle_request(HttpConnection* c) {
  g_session_check = -1;
  g_current_session = -1;
  const char* m = c->method;
  bool get = strcasecmp(m, "GET") == 0, head = strcasecmp(m, "HEAD") == 0;
  bool post = strcasecmp(m, "POST") == 0, put = strcasecmp(m, "PUT") == 0;
  if (!get && !head && !post && !put) {
    char shown[160];
    text_copy8(shown, sizeof shown, c->body ? c->body : "");
    http_send_error(c, 400, "Bad Request", "Can not parse request: [%s]", shown);
    return;
  }
  if (c->version_major != 1 || c->version_minor < 0 || c->version_minor >= 2) {
    http_send_error(c, 505, "HTTP version not supported", "Can't support HTTP version");
    return;
  }
  if (char* q = strchr(c->path, '?')) {
    *q = 0;
    c->query = q + 1;
  }
  http_url_decode(c->path, uint32_t(strlen(c->path)), c->path, uint32_t(strlen(c->path)) + 1, 0);
  http_path_normalize(c->path);
  memcpy(g_client_address.address, c->peer, 16);
  g_client_address.family = c->family;
  const char* cookie = c->headers[HDR_COOKIE];
  const char* path = c->path;
  // Only a path from the root names a file of the web folder.
  if (path[0] != '/') path = "/login.asp";
  if (!post) {
    bool gated = strcasecmp(path, "/message.asp") != 0 &&
                 (contains_nocase(path, ".asp") || contains_nocase(path, ".xml") || contains_nocase(path, ".csv") ||
                  contains_nocase(path, ".ini") || contains_nocase(path, ".txt") || strncasecmp(path, "/tmp/", 5) == 0);
    // The message page shows only the request's own reply.
    if (strcasecmp(path, "/message.asp") == 0) http_message_recall(cookie);
    if (gated) {
      if (cookie) g_session_check = SessionApi.sess_from_cookie(cookie, 0);
      bool logout = strcasecmp(path, "/logout.asp") == 0;
      // The settings copy holds every secret: only the administrator gets it.
      bool admin_only = strncasecmp(path, "/tmp/agent", 10) == 0 && contains_nocase(path, ".ini");
      if (logout) {
        if (cookie && g_session_check >= 0) {
          char16_t address[64];
          http_client_address_text(address, 64);
          EventApi.evt_log(u"0.0.0.0", evt_level(EVT_GROUP_COMMON, EVT_COMMON_LOGOUT),
                           evt_name(EVT_GROUP_COMMON, EVT_COMMON_LOGOUT), address, nullptr);
        }
        if (cookie) SessionApi.sess_from_cookie(cookie, 1);
        g_session_check = -1;
      } else if (g_session_check < 0 || (admin_only && g_session_check != 0)) {
        path = "/login.asp";
      }
    }
  } else if (cookie && strcmp(path, "/orvik/login") != 0) {
    g_session_check = SessionApi.sess_from_cookie(cookie, 0);
  }
  char file_path[256];
  text_join(file_path, sizeof file_path, HttpInstallDir, "/httpd/htdocs", path);
  if (post) {
    http_handle_post(c);
    return;
  }
  if (put) return;
  struct stat st;
  if (stat(file_path, &st) == 0 && !S_ISDIR(st.st_mode)) {
    c->content_type = http_content_type_for(file_path);
    http_send_file(c, file_path);
    return;
  }
  if (g_settings.force_https && !c->tls && HttpListenHttpsEnabled) {
    http_redirect_https(c);
    return;
  }
  text_join(file_path, sizeof file_path, HttpInstallDir, "/httpd/htdocs", "/login.asp");
  http_send_file(c, file_path);
}
