// Web server: HTTP and HTTPS listeners, the 32 connection slots, request reading and sending, and the request-scoped state that the router, the system pages and the UPS pages share.
// Everything runs on the service's window thread.
#pragma once
#include <cstdint>
#include <cstdio>

#include "platform/window.h"

typedef struct ssl_st SSL;

constexpr int HTTP_SLOTS = 32;
constexpr int HTTP_PER_ADDRESS_MAX = 8;          // connections one client address may hold
constexpr uint32_t HTTP_HEAD_MAX = 8192;            // request head with its blank line
constexpr uint32_t HTTP_BUFFER_SIZE = 2097152;      // a slot's send buffer
constexpr uint32_t HTTP_BODY_MAX = 8388608;         // largest request body
constexpr uint32_t HTTP_IDLE_S = 20;                // idle limit, and the deadline of a head
constexpr int HTTP_HEADER_COUNT = 9;

// Indexes of HttpConnection.headers, in the order of HTTP_HEADER_NAMES.
enum : int {
  HDR_HOST, HDR_ACCEPT, HDR_COOKIE, HDR_CONTENT_TYPE, HDR_CONTENT_LENGTH,
  HDR_REFERER, HDR_USER_AGENT, HDR_CONNECTION, HDR_X_AUTH_TOKEN,
};
extern const char* const HTTP_HEADER_NAMES[HTTP_HEADER_COUNT];

// One row of MIME_TYPES.
struct MimeType {
  const char* ext;
  const char* type;
};

// One connection slot.
struct HttpConnection {
  uint32_t index;           // slot number 0-31
  uint32_t state;           // 0 free, 1 reading a request, 2 sending a response
  int socket;               // -1 when none
  uint32_t family;          // 2 IPv4, 23 IPv6
  uint8_t peer[16];         // client address; IPv4 in the first 4 bytes
  uint8_t* send_buffer;     // HTTP_BUFFER_SIZE bytes: the response, or a body that fits
  const MimeType* content_type;
  uint8_t keep_alive;       // the request asked for Keep-Alive
  uint32_t last_activity;   // seconds since boot of the last accept, data or send progress
  uint32_t head_started;    // seconds since boot when the current head began to be awaited
  uint32_t tls;             // accepted on an HTTPS listener
  SSL* ssl;
  uint32_t header_fill;
  char header_buffer[HTTP_HEAD_MAX + 1];
  char* headers[HTTP_HEADER_COUNT];  // values, null when absent
  char* method;
  char* path;
  int32_t version_major;
  int32_t version_minor;
  int32_t content_length;
  char* body;               // send_buffer, a heap block for bodies over 2 MiB, null while reading the head
  uint32_t body_fill;
  char* query;              // after the first '?' of the path, null without one
  char* boundary;           // multipart/form-data: the Content-Type text after its first ';'
  FILE* file;               // file being sent
  char* page;               // rendered page behind `file` when it is larger than the send buffer; freed at the end
  int32_t send_pending;     // bytes waiting in send_buffer
};

extern HttpConnection HttpConnectionTable[HTTP_SLOTS];

// A query parameter of the page being rendered; values are not percent-decoded.
struct QueryPair {
  char* name;
  char* value;
};
constexpr int QUERY_PAIRS_MAX = 16;

// Writes the value of a template variable to the page being rendered; nothing for an unknown name.
typedef void (*PageVariableCallback)(FILE* out, const char* name, int pair_count, QueryPair* pairs);
// Handles a posted UPS form: parses the body when body_fill is not 0 and leaves one reply line in g_reply.
typedef void (*FormPostCallback)(HttpConnection* connection);

struct WebServerOpsTable {
  // 0: opens whatever enabled listener is closed
  void (*http_open_listeners)(uint16_t http_port, uint16_t https_port, uint8_t http_enabled, uint8_t https_enabled);
  void (*http_server_stop)();                                      // 1: closes connections and listeners
  void (*http_on_socket_message)(uintptr_t socket, intptr_t event);  // 2: WM_WEB_SOCKET handler
  void (*http_poll)();                                             // 3: time-outs and unfinished sends, every 10 ms
  void (*http_parse_form_data)(char* body, const char* boundary);  // 4: fills FormFieldTable
};

extern WebServerOpsTable WebServerOps;

void http_server_init(uint32_t message, WindowHandle window, const char* install_dir,
                      PageVariableCallback page_variable, FormPostCallback form_post);

// The installation folder and the two callbacks given to http_server_init.
extern char HttpInstallDir[260];
extern PageVariableCallback HttpPageVariable;
extern FormPostCallback HttpFormPost;
// Ports and enables of the last http_open_listeners call.
extern uint16_t HttpListenHttpPort, HttpListenHttpsPort;
extern uint8_t HttpListenHttpEnabled, HttpListenHttpsEnabled;

// This host's first address: family 2, 23 or 0, and its bytes.
struct HostAddress {
  uint32_t family;
  uint8_t address[16];
};
extern HostAddress g_host_address;

// A slot starts reading a request from the accepted socket of the client (16 address bytes).
void http_conn_start(HttpConnection* c, int socket, uint32_t family, const uint8_t* peer);
// Formats a response into the slot's send buffer and starts sending it; nothing when it does not fit.
void http_conn_printf(HttpConnection* c, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Takes bytes received on the slot (head, then body); 1 request complete, 0 wait, -1 closed.
int http_conn_take(HttpConnection* c, const char* data, uint32_t length);
// Sends until the response is out or the socket would block (then FD_WRITE or the poll goes
// on); 1 response complete, 0 more to do, -1 closed.
int http_conn_send(HttpConnection* c);
void http_conn_close(HttpConnection* c, int force);
// Closes the four listeners and nothing else; the next http_open_listeners opens them again.
void http_close_listeners();
// Seconds since boot, the clock of idle limits and sessions; tests may replace it.
extern uint32_t (*http_clock_seconds)();
