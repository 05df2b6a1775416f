// Web server connections: four listeners, 32 slots, request reading and sending. A response goes
// out as soon as it is formatted; what the socket does not take goes on at FD_WRITE, and the 10-ms
// poll keeps the idle limits and retries what a notification left.
#include "service/web/http_server.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "common/text.h"
#include "platform/fs.h"
#include "platform/inet.h"
#include "platform/socket.h"
#include "service/core/listener_status.h"
#include "service/events/event_defs.h"
#include "service/web/form_data.h"
#include "service/web/http_request.h"
#include "service/web/session.h"
#include "service/web/tls_context.h"

HttpConnection HttpConnectionTable[HTTP_SLOTS];

const char* const HTTP_HEADER_NAMES[HTTP_HEADER_COUNT] = {
    "Host", "Accept", "Cookie", "Content-Type", "Content-Length", "Referer", "User-Agent", "Connection", "X-Auth-Token"};

// Send buffers, one per slot, with room for a body's terminator.
static uint8_t g_send_buffers[HTTP_SLOTS][HTTP_BUFFER_SIZE + 1];

static uint32_t g_message;
static WindowHandle g_window;
static int g_listeners[4] = {-1, -1, -1, -1};  // IPv4 HTTP, IPv6 HTTP, IPv4 HTTPS, IPv6 HTTPS
static uint8_t g_listener_mask;
static SSL_CTX* g_tls_context;
// A listener whose connection found every slot busy: no further accept event comes for it until
// an accept is tried again.
static bool g_accept_waiting[4];

static void http_cert_path(char* out, size_t room) { snprintf(out, room, "%s/httpd/cert_web.pem", HttpInstallDir); }

static void http_slot_reset(HttpConnection* c, int index) {
  c->index = uint32_t(index);
  c->state = 0;
  c->socket = -1;
  c->send_buffer = g_send_buffers[index];
  c->ssl = nullptr;
  c->file = nullptr;
  c->body = nullptr;
  c->page = nullptr;
  c->header_fill = 0;
  c->body_fill = 0;
  c->send_pending = 0;
  c->keep_alive = 0;
}

// Starts awaiting a new request head on a slot.
static void http_conn_expect_head(HttpConnection* c) {
  c->state = 1;
  c->header_fill = 0;
  c->body_fill = 0;
  c->body = nullptr;
  c->send_pending = 0;
  c->head_started = c->last_activity = http_clock_seconds();
}

void http_conn_start(HttpConnection* c, int socket, uint32_t family, const uint8_t* peer) {
  http_slot_reset(c, int(c - HttpConnectionTable));
  c->socket = socket;
  c->family = family;
  memcpy(c->peer, peer, sizeof c->peer);
  c->tls = 0;
  http_conn_expect_head(c);
}

static void http_free_body(HttpConnection* c) {
  if (c->body && c->body != reinterpret_cast<char*>(c->send_buffer)) free(c->body);
  c->body = nullptr;
}

static void conn_close(HttpConnection* c, int force) {
  if (c->state == 0) return;
  http_free_body(c);
  if (c->file) fclose(c->file);
  c->file = nullptr;
  free(c->page);
  c->page = nullptr;
  if (!force && c->state == 2 && c->keep_alive) {
    http_conn_expect_head(c);
    return;
  }
  if (c->ssl) {
    if (SSL_is_init_finished(c->ssl)) SSL_shutdown(c->ssl);
    SSL_free(c->ssl);
    ERR_clear_error();
    c->ssl = nullptr;
  }
  if (c->socket >= 0) sock_close(c->socket);
  c->socket = -1;
  c->state = 0;
}

// Cuts the text at its first space or ':' and returns what follows, leading spaces skipped.
static char* http_split_header(char* text) {
  char* p = text + strcspn(text, " :");
  if (!*p) return nullptr;
  *p++ = 0;
  while (*p == ' ') ++p;
  return p;
}

// Cuts at the first space and returns the next non-space position.
static char* util_split_word(char* text) {
  char* p = strchr(text, ' ');
  if (!p) return text + strlen(text);
  *p++ = 0;
  while (*p == ' ') ++p;
  return p;
}

// Ends the text at its first control character, so that nothing the client sent can start a
// new header line in an answer that repeats it.
static void cut_at_control(char* text) {
  for (; *text; ++text)
    if (uint8_t(*text) < 0x20 || *text == 0x7F) {
      *text = 0;
      return;
    }
}

// Parses a complete head of header_buffer ending at `end` (the blank line's CR); `arrived` body
// bytes follow it. 1 complete, 0 wait for body, -1 closed.
static int http_parse_head(HttpConnection* c, uint32_t end, uint32_t arrived) {
  char* h = c->header_buffer;
  h[end + 2] = 0;
  uint32_t body_start = end + 4;
  char* line_end = strstr(h, "\r\n");
  if (!line_end) return conn_close(c, 1), -1;
  *line_end = 0;
  c->method = h;
  c->path = http_split_header(h);
  if (!h[0] || !c->path || !c->path[0]) return conn_close(c, 1), -1;
  char* version = util_split_word(c->path);
  cut_at_control(c->path);
  if (!c->path[0]) return conn_close(c, 1), -1;
  c->version_major = c->version_minor = 0;
  if (sscanf(version, "HTTP/%d.%d", &c->version_major, &c->version_minor) != 2) c->version_major = c->version_minor = 0;
  c->query = nullptr;
  c->boundary = nullptr;
  for (auto& v : c->headers) v = nullptr;
  char* line = line_end + 2;
  while (*line) {
    char* next = strstr(line, "\r\n");
    if (next) *next = 0;
    char* value = http_split_header(line);
    if (value) {
      for (int i = 0; i < HTTP_HEADER_COUNT; ++i)
        if (strcasecmp(line, HTTP_HEADER_NAMES[i]) == 0) c->headers[i] = value;
    }
    if (!next) break;
    line = next + 2;
  }
  if (char* host = c->headers[HDR_HOST]) {
    cut_at_control(host);
    char* colon = host[0] == '[' ? strchr(host, ']') : host;
    if (colon) colon = strchr(colon, ':');
    if (colon) *colon = 0;
  }
  long length = c->headers[HDR_CONTENT_LENGTH] ? strtol(c->headers[HDR_CONTENT_LENGTH], nullptr, 10) : long(arrived);
  if (length > long(HTTP_BODY_MAX)) return conn_close(c, 1), -1;
  c->content_length = length < 1 ? 0 : int32_t(length);
  c->header_fill = body_start;
  if (c->content_length < 1) {
    c->body = reinterpret_cast<char*>(c->send_buffer);
    c->body[0] = 0;
    c->body_fill = 0;
  } else {
    if (uint32_t(c->content_length) > HTTP_BUFFER_SIZE) {
      c->body = static_cast<char*>(malloc(size_t(c->content_length) + 1));
      if (!c->body) return conn_close(c, 1), -1;
    } else {
      c->body = reinterpret_cast<char*>(c->send_buffer);
    }
    uint32_t take = arrived < uint32_t(c->content_length) ? arrived : uint32_t(c->content_length);
    memcpy(c->body, h + body_start, take);
    c->body_fill = take;
    c->body[take] = 0;
  }
  c->keep_alive = c->headers[HDR_CONNECTION] && strcasecmp(c->headers[HDR_CONNECTION], "Keep-Alive") == 0;
  return c->body_fill >= uint32_t(c->content_length) ? 1 : 0;
}

// n new bytes lie at header_buffer + header_fill.
static int http_head_received(HttpConnection* c, uint32_t n) {
  c->last_activity = http_clock_seconds();
  uint32_t total = c->header_fill + n;
  c->header_buffer[total] = 0;
  const char* blank = static_cast<const char*>(memmem(c->header_buffer, total, "\r\n\r\n", 4));
  if (!blank) {
    c->header_fill = total;
    if (total >= HTTP_HEAD_MAX) return conn_close(c, 1), -1;
    return 0;
  }
  uint32_t end = uint32_t(blank - c->header_buffer);
  return http_parse_head(c, end, total - (end + 4));
}

static int http_body_received(HttpConnection* c, uint32_t n) {
  c->last_activity = http_clock_seconds();
  c->body_fill += n;
  c->body[c->body_fill] = 0;
  return c->body_fill >= uint32_t(c->content_length) ? 1 : 0;
}

int http_conn_take(HttpConnection* c, const char* data, uint32_t length) {
  int result = 0;
  while (c->state == 1 && length > 0 && result == 0) {
    char* at;
    uint32_t room;
    if (!c->body) {
      at = c->header_buffer + c->header_fill;
      room = HTTP_HEAD_MAX - c->header_fill;
    } else {
      at = c->body + c->body_fill;
      room = uint32_t(c->content_length) - c->body_fill;
    }
    uint32_t n = length < room ? length : room;
    memcpy(at, data, n);
    data += n;
    length -= n;
    result = c->body ? http_body_received(c, n) : http_head_received(c, n);
    if (result == 1) break;
  }
  return result;
}

// Receives into the head or the body; 1 complete, 0 wait, -1 closed.
static int http_conn_read(HttpConnection* c) {
  for (;;) {
    char* at;
    int room;
    if (!c->body) {
      at = c->header_buffer + c->header_fill;
      room = int(HTTP_HEAD_MAX - c->header_fill);
    } else {
      at = c->body + c->body_fill;
      room = c->content_length - int(c->body_fill);
      if (room <= 0) return 1;
    }
    int n;
    if (c->ssl) {
      n = SSL_read(c->ssl, at, room);
      if (n <= 0) {
        int e = SSL_get_error(c->ssl, n);
        ERR_clear_error();
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return 0;
        return conn_close(c, 1), -1;
      }
    } else {
      n = sock_recv(c->socket, at, room);
      if (n < 0 && sock_last_error() == SOCK_EWOULDBLOCK) return 0;
      if (n <= 0) return conn_close(c, 1), -1;
    }
    int r = c->body ? http_body_received(c, uint32_t(n)) : http_head_received(c, uint32_t(n));
    // Decrypted bytes already held by the TLS object bring no further socket event.
    if (r != 0 || !c->ssl || SSL_pending(c->ssl) <= 0) return r;
  }
}

int http_conn_send(HttpConnection* c) {
  for (;;) {
    if (c->file && uint32_t(c->send_pending) < HTTP_BUFFER_SIZE) {
      size_t n = fread(c->send_buffer + c->send_pending, 1, HTTP_BUFFER_SIZE - uint32_t(c->send_pending), c->file);
      if (n > 0) {
        c->send_pending += int32_t(n);
        if (feof(c->file)) {
          fclose(c->file);
          c->file = nullptr;
        }
      } else {
        fclose(c->file);
        c->file = nullptr;
      }
    }
    if (c->send_pending == 0) return c->file ? 0 : 1;
    int sent = 0;
    bool blocked = false;
    if (c->ssl) {
      // With partial writes each call takes one record; the pending bytes go record by record
      // until the socket would block.
      while (sent < c->send_pending) {
        int n = SSL_write(c->ssl, c->send_buffer + sent, c->send_pending - sent);
        if (n > 0) {
          sent += n;
          continue;
        }
        int e = SSL_get_error(c->ssl, n);
        ERR_clear_error();
        if (e != SSL_ERROR_WANT_WRITE && e != SSL_ERROR_WANT_READ) return conn_close(c, 1), -1;
        blocked = true;
        break;
      }
    } else {
      sent = sock_send(c->socket, c->send_buffer, c->send_pending);
      if (sent < 0) {
        if (sock_last_error() != SOCK_EWOULDBLOCK) return conn_close(c, 1), -1;
        sent = 0;
        blocked = true;
      }
    }
    if (sent > 0) c->last_activity = http_clock_seconds();
    c->send_pending -= sent;
    if (c->send_pending > 0 && sent > 0) memmove(c->send_buffer, c->send_buffer + sent, size_t(c->send_pending));
    // A would-block send lets the next FD_WRITE be posted.
    if (blocked) return 0;
    if (c->send_pending == 0 && !c->file) return 1;
  }
}

// Serves the slot as far as it goes without waiting: reads a request and routes it, sends the
// response, and after a keep-alive response reads the next request. A few rounds per call, so
// that one pipelining client does not hold the loop; the next notification goes on. A request
// that got no answer leaves the slot awaiting the next head.
static void http_conn_serve(HttpConnection* c) {
  for (int round = 0; round < 8; ++round) {
    if (c->state == 1) {
      if (http_conn_read(c) != 1) return;
      http_handle_request(c);
      if (c->state == 1) {
        http_free_body(c);
        http_conn_expect_head(c);
        return;
      }
    }
    if (c->state != 2 || http_conn_send(c) != 1) return;
    conn_close(c, 0);
  }
}

static void http_accept(int listener, int tls);

// True when the idle limit has passed since the time. A time a little after `now` (set by a send
// earlier in the same poll, after the clock turned) is not idle.
static bool http_idle_since(uint32_t since, uint32_t now) { return int32_t(now - since) >= int32_t(HTTP_IDLE_S); }

static void http_poll() {
  uint32_t now = http_clock_seconds();
  for (auto& c : HttpConnectionTable) {
    if (c.state == 2) {
      // What a notification could not finish; a keep-alive client's next request may already
      // wait in the socket.
      http_conn_serve(&c);
      if (c.state == 2 && http_idle_since(c.last_activity, now)) conn_close(&c, 1);
    } else if (c.state != 0) {
      bool head_late = !c.body && http_idle_since(c.head_started, now);
      if (head_late || http_idle_since(c.last_activity, now)) conn_close(&c, 1);
    }
  }
  for (int i = 0; i < 4; ++i) {
    if (!g_accept_waiting[i]) continue;
    g_accept_waiting[i] = false;
    if (g_listeners[i] >= 0) http_accept(g_listeners[i], i >= 2);
  }
}

static void http_accept(int listener, int tls) {
  HttpConnection* c = nullptr;
  for (auto& slot : HttpConnectionTable)
    if (slot.state == 0) {
      c = &slot;
      break;
    }
  if (!c) {
    for (int i = 0; i < 4; ++i)
      if (g_listeners[i] == listener) g_accept_waiting[i] = true;
    return;
  }
  uint8_t peer[INET_SOCKADDR_MAX];
  uint32_t peer_length = 0;
  int s = sock_accept(listener, peer, &peer_length);
  if (s < 0) return;
  uint8_t address[16] = {};
  inet_sockaddr_address(peer, peer_length, address, nullptr, nullptr);
  uint32_t family = inet_sockaddr_family(peer, peer_length);
  // One client address holds a few slots at most, loopback too: the rest stay for everyone else.
  int held = 0;
  for (const auto& slot : HttpConnectionTable)
    if (slot.state != 0 && slot.socket >= 0 && slot.family == family && memcmp(slot.peer, address, 16) == 0) ++held;
  if (held >= HTTP_PER_ADDRESS_MAX) {
    sock_close(s);
    return;
  }
  if (!win_async_select(s, g_window, g_message, FD_READ | FD_WRITE | FD_CLOSE)) {
    sock_close(s);
    return;
  }
  http_conn_start(c, s, family, address);
  c->tls = uint32_t(tls);
  if (tls) {
    c->ssl = tls_accept(g_tls_context, s);
    if (!c->ssl) {
      conn_close(c, 1);
      return;
    }
  }
}

static HttpConnection* http_find_slot(int socket) {
  for (auto& c : HttpConnectionTable)
    if (c.state != 0 && c.socket == socket) return &c;
  return nullptr;
}

// Closes the slot or listener of the socket; false when it is neither.
static bool http_on_close(int socket) {
  if (HttpConnection* c = http_find_slot(socket)) {
    conn_close(c, 1);
    return true;
  }
  for (auto& l : g_listeners)
    if (l == socket && l >= 0) {
      sock_close(l);
      l = -1;
      return true;
    }
  return false;
}

static void http_on_socket_message(uintptr_t socket, intptr_t event) {
  int s = int(socket);
  uint32_t what = uint32_t(event) & 0xFFFF;
  if ((uint32_t(event) >> 16) != 0 && http_on_close(s)) return;
  if (what & (FD_READ | FD_WRITE)) {
    HttpConnection* c = http_find_slot(s);
    // A sending slot reads its next request once the response is out.
    if (c && (c->state == 1 || (c->state == 2 && (what & FD_WRITE)))) http_conn_serve(c);
  }
  if (what & FD_ACCEPT) {
    for (int i = 0; i < 4; ++i)
      if (g_listeners[i] == s) http_accept(s, i >= 2);
  }
  if (what & FD_CLOSE) http_on_close(s);
}

static bool http_listen(int s) {
  return win_async_select(s, g_window, g_message, FD_ACCEPT) && sock_listen(s, 4096);
}

static void http_open_listeners(uint16_t http_port, uint16_t https_port, uint8_t http_enabled, uint8_t https_enabled) {
  HttpListenHttpPort = http_port;
  HttpListenHttpsPort = https_port;
  HttpListenHttpEnabled = http_enabled;
  HttpListenHttpsEnabled = https_enabled;
  static const char16_t* const kNames[4] = {u"IPv4-HTTP", u" IPv6-HTTP", u" IPv4-HTTPS", u" IPv6-HTTPS"};
  char16_t status[128];
  size_t used = 0;
  status[0] = 0;
  uint8_t mask = g_listener_mask;
  bool attempted = false;
  bool due = false;
  for (int i = 0; i < 4; ++i) {
    if (!(i < 2 ? http_enabled : https_enabled) || g_listeners[i] >= 0) continue;
    uint16_t family = (i % 2) ? INET_FAMILY_IPV6 : INET_FAMILY_IPV4;
    int s = sock_tcp_open(family);
    if (s < 0) continue;
    attempted = true;
    bool ok = false;
    uint16_t port = i < 2 ? http_port : https_port;
    int id = LISTENER_HTTP_V4 + i;
    if (!sock_bind(s, family, nullptr, port)) {
      due = listener_failed(id, port, sock_last_error()) || due;
      sock_close(s);
    } else {
      g_listeners[i] = s;
      ok = http_listen(s);
      if (ok) mask |= uint8_t(1u << i);
      due = (ok ? listener_opened(id) : listener_failed(id, port, sock_last_error())) || due;
    }
    used += text_copy16(status + used, sizeof status / sizeof status[0] - used, kNames[i]);
    used += text_copy16(status + used, sizeof status / sizeof status[0] - used, ok ? u": OK" : u": NOK");
  }
  // Logged the first time each listener opens or fails, and again only when that changes.
  g_listener_mask = mask;
  if (attempted && due) {
    EventApi.evt_log(u"0.0.0.0", 0, status, nullptr);
  }
  if (!g_tls_context) {
    char path[300];
    http_cert_path(path, sizeof path);
    g_tls_context = tls_context_new(path);
  }
}

static void http_server_stop() {
  for (auto& c : HttpConnectionTable) conn_close(&c, 1);
  for (auto& l : g_listeners) {
    if (l >= 0) sock_close(l);
    l = -1;
  }
  for (int id = LISTENER_HTTP_V4; id <= LISTENER_HTTPS_V6; ++id) listener_closed(id);
  if (g_tls_context) SSL_CTX_free(g_tls_context);
  g_tls_context = nullptr;
}

void http_server_init(uint32_t message, WindowHandle window, const char* install_dir,
                      PageVariableCallback page_variable, FormPostCallback form_post) {
  g_message = message;
  g_window = window;
  text_copy8(HttpInstallDir, sizeof HttpInstallDir, install_dir);
  HttpPageVariable = page_variable;
  HttpFormPost = form_post;
  char from[300], to[300];
  snprintf(from, sizeof from, "%s/httpd/cert.pem", HttpInstallDir);
  http_cert_path(to, sizeof to);
  char host[65] = "";
  inet_host_name(host, sizeof host);
  if (!fs_file_exists(to)) {
    if (fs_file_exists(from)) fs_copy_file(from, to, true, FS_PRIVATE);
    else tls_make_self_signed(to, host);
  }
  // The pages rendered for a session, the event views and the downloads are for the service only.
  snprintf(from, sizeof from, "%s/httpd/htdocs/tmp", HttpInstallDir);
  fs_create_private_directory(from);
  uint16_t family = 0;
  memset(&g_host_address, 0, sizeof g_host_address);
  if (inet_resolve_host(host, &family, g_host_address.address)) g_host_address.family = family;
  sess_init();
  WebServerOps = WebServerOpsTable{http_open_listeners, http_server_stop, http_on_socket_message, http_poll,
                                   http_parse_form_data, conn_close};
  for (int i = 0; i < HTTP_SLOTS; ++i) http_slot_reset(&HttpConnectionTable[i], i);
}

void http_close_listeners() {
  for (auto& l : g_listeners) {
    if (l >= 0) sock_close(l);
    l = -1;
  }
  for (int id = LISTENER_HTTP_V4; id <= LISTENER_HTTPS_V6; ++id) listener_closed(id);
}
