// Web server: HTTP and HTTPS listeners, the 32 connection slots, request reading and sending.
// Everything runs on the service's window thread.
#pragma once
#include <cstdint>
#include <cstdio>

#include "platform/window.h"
#include "service/web/request_state.h"

constexpr int HTTP_SLOTS = 32;
constexpr int HTTP_PER_ADDRESS_MAX = 8;          // connections one client address may hold
constexpr uint32_t HTTP_BODY_MAX = 8388608;         // largest request body
constexpr uint32_t HTTP_IDLE_S = 20;                // idle limit, and the deadline of a head

extern const char* const HTTP_HEADER_NAMES[HTTP_HEADER_COUNT];

extern HttpConnection HttpConnectionTable[HTTP_SLOTS];

void http_server_init(uint32_t message, WindowHandle window, const char* install_dir,
                      PageVariableCallback page_variable, FormPostCallback form_post);

// A slot starts reading a request from the accepted socket of the client (16 address bytes).
void http_conn_start(HttpConnection* c, int socket, uint32_t family, const uint8_t* peer);
// Takes bytes received on the slot (head, then body); 1 request complete, 0 wait, -1 closed.
int http_conn_take(HttpConnection* c, const char* data, uint32_t length);
// Sends until the response is out or the socket would block (then FD_WRITE or the poll goes
// on); 1 response complete, 0 more to do, -1 closed.
int http_conn_send(HttpConnection* c);
// Closes the four listeners and nothing else; the next http_open_listeners opens them again.
void http_close_listeners();
