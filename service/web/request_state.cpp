// The state of the request being served and the folder, clock and callbacks of the web server.
#include "service/web/request_state.h"

#include <cstdarg>
#include <cstdio>

#include "platform/clock.h"
#include "platform/inet.h"

char g_reply[REPLY_SIZE];
char g_message_title[128];
char g_message_body[256];
char g_message_action[128];
ClientAddress g_client_address;
int32_t g_session_check = -1;
int32_t g_current_session = -1;
FormFields FormFieldTable;

char HttpInstallDir[260];
PageVariableCallback HttpPageVariable;
FormPostCallback HttpFormPost;
HostAddress g_host_address;

static uint32_t http_clock_default() { return clock_tick_count() / 1000; }
uint32_t (*http_clock_seconds)() = http_clock_default;

void http_client_address_text(char16_t* out, uint32_t room) {
  uint8_t sa[INET_SOCKADDR_MAX];
  uint32_t len = inet_make_sockaddr(sa, sizeof sa, uint16_t(g_client_address.family), g_client_address.address, 0, 0);
  if (!len || !inet_address_to_string(sa, len, out, room)) out[0] = 0;
}

WebServerOpsTable WebServerOps;
uint16_t HttpListenHttpPort, HttpListenHttpsPort;
uint8_t HttpListenHttpEnabled, HttpListenHttpsEnabled;

void http_conn_printf(HttpConnection* c, const char* format, ...) {
  if (c->state == 0) return;  // closed meanwhile (a listener restart)
  va_list args;
  va_start(args, format);
  int n = vsnprintf(reinterpret_cast<char*>(c->send_buffer), HTTP_BUFFER_SIZE, format, args);
  va_end(args);
  if (n <= 0 || uint32_t(n) >= HTTP_BUFFER_SIZE) return;
  c->send_pending = n;
  c->state = 2;
  c->file = nullptr;
  c->last_activity = http_clock_seconds();
}

void http_conn_close(HttpConnection* c, int force) {
  if (WebServerOps.http_conn_close) WebServerOps.http_conn_close(c, force);
}
