// Web server: HTTP and HTTPS listeners, connection slots and its operation table.
#pragma once
#include <cstdint>

#include "platform/window.h"

struct HttpConnection;
// Writes the value of a named template variable into the reply; nonzero when it knew the name.
typedef int (*PageVariableCallback)(HttpConnection* connection, const char* name);
// Handles a posted UPS form and leaves one reply line.
typedef int (*FormPostCallback)(HttpConnection* connection);

struct WebServerOpsTable {
  // 0: opens whatever enabled listener is closed
  void (*http_open_listeners)(uint16_t http_port, uint16_t https_port, uint8_t http_enabled, uint8_t https_enabled);
  void (*http_server_stop)();                                      // 1: closes connections and listeners
  void (*http_on_socket_message)(uintptr_t socket, intptr_t event);  // 2: WM_WEB_SOCKET handler
  void (*http_poll)();                                             // 3: sends and time-outs, every 10 ms
  void (*http_parse_form_data)(char* body, const char* boundary);  // 4: fills the form field table
};

extern WebServerOpsTable WebServerOps;

void http_server_init(uint32_t message, WindowHandle window, const char* install_dir,
                      PageVariableCallback page_variable, FormPostCallback form_post);
