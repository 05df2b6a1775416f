// The state of the request being served, at the bottom of the web server: the connection record
// and the query pairs of a page, the reply and message buffers, the client, the form fields, the
// session, the clock, the installation folder and the pages' two callbacks. Every part of the web
// server, the UPS pages and the tests read and write it here; nothing here includes a web header.
// The last lines name what request handling and the pages ask of the server, which defines them.
#pragma once
#include <cstdint>
#include <cstdio>

typedef struct ssl_st SSL;

constexpr uint32_t HTTP_HEAD_MAX = 8192;            // request head with its blank line
constexpr uint32_t HTTP_BUFFER_SIZE = 2097152;      // a slot's send buffer
constexpr int HTTP_HEADER_COUNT = 9;

// Indexes of HttpConnection.headers, in the order of HTTP_HEADER_NAMES.
enum : int {
  HDR_HOST, HDR_ACCEPT, HDR_COOKIE, HDR_CONTENT_TYPE, HDR_CONTENT_LENGTH,
  HDR_REFERER, HDR_USER_AGENT, HDR_CONNECTION, HDR_X_AUTH_TOKEN,
};

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

constexpr uint32_t REPLY_SIZE = 4096;
constexpr int FORM_FIELDS_MAX = 300;

// The web layer's reply and value buffer: a template variable formats its value here, a form
// handler leaves its one reply line here. Cleared before every form handler.
extern char g_reply[REPLY_SIZE];
// Texts of the message page (ERR_TITLE, ERR_MSG, ERR_PATH).
extern char g_message_title[128];
extern char g_message_body[256];
extern char g_message_action[128];

// The client of the request being served: family (2, 23) and address (IPv4 in the first 4 bytes).
struct ClientAddress {
  uint32_t family;
  uint8_t address[16];
};
extern ClientAddress g_client_address;
// Access level the session gate found for this request: 0 admin, 1 device manager, 2 user, -1 none.
extern int32_t g_session_check;
// Session of the request being served, -1 for none; reset at the start of every request.
extern int32_t g_current_session;

struct FormField {
  char* name;
  char* filename;   // multipart only
  char* value;
  char* value_end;  // last byte of the value, multipart only
};
struct FormFields {
  int32_t count;
  FormField rows[FORM_FIELDS_MAX];
};
// Fields of the last parsed form; they point into the request body.
extern FormFields FormFieldTable;

// The client of the request as address text (UTF-16, room units), empty when it has none.
void http_client_address_text(char16_t* out, uint32_t room);

// Seconds since boot, the clock of idle limits and sessions; tests may replace it.
extern uint32_t (*http_clock_seconds)();

// The installation folder and the two callbacks given to http_server_init.
extern char HttpInstallDir[260];
extern PageVariableCallback HttpPageVariable;
extern FormPostCallback HttpFormPost;

// This host's first address: family 2, 23 or 0, and its bytes.
struct HostAddress {
  uint32_t family;
  uint8_t address[16];
};
extern HostAddress g_host_address;

// What request handling and the pages ask of the server.
struct WebServerOpsTable {
  // 0: opens whatever enabled listener is closed
  void (*http_open_listeners)(uint16_t http_port, uint16_t https_port, uint8_t http_enabled, uint8_t https_enabled);
  void (*http_server_stop)();                                      // 1: closes connections and listeners
  void (*http_on_socket_message)(uintptr_t socket, intptr_t event);  // 2: WM_WEB_SOCKET handler
  void (*http_poll)();                                             // 3: time-outs and unfinished sends, every 10 ms
  void (*http_parse_form_data)(char* body, const char* boundary);  // 4: fills FormFieldTable
  void (*http_conn_close)(HttpConnection* c, int force);            // 5: closes a slot's connection
};
extern WebServerOpsTable WebServerOps;
// Ports and enables of the last http_open_listeners call.
extern uint16_t HttpListenHttpPort, HttpListenHttpsPort;
extern uint8_t HttpListenHttpEnabled, HttpListenHttpsEnabled;
// Formats a response into the slot's send buffer and starts sending it; nothing when it does not fit.
void http_conn_printf(HttpConnection* c, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Closes the slot's connection through the server's table (nothing before the server is started).
void http_conn_close(HttpConnection* c, int force);
