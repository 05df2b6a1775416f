// Web server. Until it is built its table holds operations that do nothing.
#include "service/web/http_server.h"

WebServerOpsTable WebServerOps;

static void web_open_nothing(uint16_t, uint16_t, uint8_t, uint8_t) {}
static void web_nothing() {}
static void web_socket_nothing(uintptr_t, intptr_t) {}
static void web_parse_nothing(char*, const char*) {}

void http_server_init(uint32_t, WindowHandle, const char*, PageVariableCallback, FormPostCallback) {
  WebServerOps = WebServerOpsTable{web_open_nothing, web_nothing, web_socket_nothing, web_nothing, web_parse_nothing};
}
